#pragma once

#include <cstdint>
#include <string>

namespace vellico::model {

// Display names of the byte-count units; the core holds no user text, so the
// layer that shows sizes supplies them (translated).
struct ByteUnits {
    std::string zero;  // the text for 0 bytes, e.g. "Zéro Ko"
    std::string byte;  // singular, e.g. "octet"
    std::string bytes; // plural, e.g. "octets"
    std::string kilo;  // "Ko"
    std::string mega;  // "Mo"
    std::string giga;  // "Go"
    std::string tera;  // "To"
    char decimalSeparator = ',';
};

// Formats a byte count like the platform's file-size formatter: decimal units
// (1 kB = 1000 bytes), bytes up to terabytes, no decimals for bytes and kB,
// one for MB, two for GB and TB, trailing zeros dropped, and a value that
// rounds up to 1000 of a unit shown in the next one ("1 Mo", not "1000 Ko").
// Negative counts are shown as 0.
std::string formatByteCount(std::int64_t bytes, const ByteUnits& units);

} // namespace vellico::model
