#include "formats/property_list.hpp"

#include "formats/property_list_detail.hpp"
#include "platform/file_system.hpp"
#include "platform/unique_fd.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vellico::formats {

const PlistValue* PlistValue::find(std::string_view key) const
{
    const Dict* entries = dict();
    if (entries == nullptr) {
        return nullptr;
    }
    for (auto it = entries->rbegin(); it != entries->rend(); ++it) {
        if (it->first == key) {
            return &it->second;
        }
    }
    return nullptr;
}

std::optional<std::string> PlistValue::stringFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    if (v == nullptr || v->string() == nullptr) {
        return std::nullopt;
    }
    return *v->string();
}

std::optional<bool> PlistValue::boolFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    if (v == nullptr || v->boolean() == nullptr) {
        return std::nullopt;
    }
    return *v->boolean();
}

std::optional<std::int64_t> PlistValue::integerFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    if (v == nullptr || v->integer() == nullptr) {
        return std::nullopt;
    }
    return *v->integer();
}

const PlistValue::Data* PlistValue::dataFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    return v != nullptr ? v->data() : nullptr;
}

const PlistValue::Dict* PlistValue::dictFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    return v != nullptr ? v->dict() : nullptr;
}

const PlistValue::Array* PlistValue::arrayFor(std::string_view key) const
{
    const PlistValue* v = find(key);
    return v != nullptr ? v->array() : nullptr;
}

bool PlistValue::operator==(const PlistValue& other) const
{
    // std::variant compares the index first, then the alternatives with their
    // own operator== (recursively for arrays and dictionaries).
    return m_value == other.m_value;
}

std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes,
                                            const PlistLimits& limits)
{
    if (bytes.size() > limits.maxBytes) {
        return std::nullopt;
    }
    static constexpr char kBinaryMagic[] = "bplist00";
    if (bytes.size() >= 6 && std::memcmp(bytes.data(), kBinaryMagic, 6) == 0) {
        // "bplist" with another version (bplist15, bplist16…) is a format we
        // do not read; never hand it to the XML reader.
        if (bytes.size() < 8 || std::memcmp(bytes.data(), kBinaryMagic, 8) != 0) {
            return std::nullopt;
        }
        return detail::parseBinaryPropertyList(bytes, limits);
    }
    return detail::parseXmlPropertyList(bytes, limits);
}

std::optional<PlistValue> readPropertyListDictionaryAt(int dirFd, const char* name,
                                                       const PlistLimits& limits)
{
    std::optional<std::vector<std::uint8_t>> bytes =
        platform::readRegularFileAt(dirFd, name, limits.maxBytes);
    if (!bytes) {
        return std::nullopt;
    }
    std::optional<PlistValue> value = parsePropertyList(*bytes, limits);
    if (!value || value->dict() == nullptr) {
        return std::nullopt;
    }
    return value;
}

std::optional<PlistValue> readPropertyListDictionary(const std::filesystem::path& file,
                                                     const PlistLimits& limits)
{
    const std::filesystem::path name = file.filename();
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    std::filesystem::path parent = file.parent_path();
    if (parent.empty()) {
        parent = ".";
    }
    platform::UniqueFd dir = platform::openDirectoryPath(parent.string());
    if (!dir) {
        return std::nullopt;
    }
    return readPropertyListDictionaryAt(dir.get(), name.c_str(), limits);
}

namespace detail {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's algorithms, exact for every year we accept).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

constexpr std::int64_t kDays1970To2001 = 11323;

bool readDigits(std::string_view text, std::size_t at, std::size_t count, unsigned& out)
{
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

} // namespace

std::optional<double> parseIsoDate(std::string_view text)
{
    // 0123456789012345678901
    // 2001-01-01T00:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    unsigned year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) ||
        !readDigits(text, 8, 2, day) || !readDigits(text, 11, 2, hour) ||
        !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second)) {
        return std::nullopt;
    }
    static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year == 0 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t days = daysFromCivil(year, month, day) - kDays1970To2001;
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
}

std::optional<std::string> formatIsoDate(double secondsSince2001)
{
    // Years 1-9999 lie well within ±4e11 seconds of 2001.
    if (!std::isfinite(secondsSince2001) || std::fabs(secondsSince2001) > 4e11) {
        return std::nullopt;
    }
    const auto total = static_cast<std::int64_t>(std::floor(secondsSince2001));
    std::int64_t days = total / 86400;
    std::int64_t rest = total % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days + kDays1970To2001, year, month, day);
    if (year < 1 || year > 9999) {
        return std::nullopt;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(year),
                  month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return std::string(buffer);
}

} // namespace detail

} // namespace vellico::formats
