#include "model/byte_count_format.hpp"

#include <array>
#include <cmath>
#include <cstdio>

namespace vellico::model {

namespace {

struct Unit {
    double scale;
    int decimals;
    const std::string ByteUnits::*name;
};

// Rounds `value` to `decimals` places and prints it without trailing zeros.
std::string printNumber(double value, int decimals, char separator)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s(text);
    if (const auto dot = s.find('.'); dot != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        } else {
            s[dot] = separator;
        }
    }
    return s;
}

} // namespace

std::string formatByteCount(std::int64_t bytes, const ByteUnits& units)
{
    if (bytes <= 0) {
        return units.zero;
    }
    if (bytes < 1000) {
        return std::to_string(bytes) + " " + (bytes == 1 ? units.byte : units.bytes);
    }
    static const std::array<Unit, 4> table{{
        {1e3, 0, &ByteUnits::kilo},
        {1e6, 1, &ByteUnits::mega},
        {1e9, 2, &ByteUnits::giga},
        {1e12, 2, &ByteUnits::tera},
    }};
    const double value = static_cast<double>(bytes);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Unit& unit = table[i];
        const double scaled = value / unit.scale;
        const double factor = std::pow(10.0, unit.decimals);
        const double rounded = std::round(scaled * factor) / factor;
        if (rounded < 1000.0 || i + 1 == table.size()) {
            return printNumber(rounded, unit.decimals, units.decimalSeparator) + " " +
                   units.*unit.name;
        }
    }
    return units.zero; // not reached
}

} // namespace vellico::model
