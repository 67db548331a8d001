#pragma once

#include "formats/property_list.hpp"

#include <cstdint>
#include <optional>
#include <vector>

// The binary property-list writer. The program itself only ever writes XML;
// this one serves the sample-library generator, the tests and the fuzzers,
// which need files as the editor writes them, and is not linked into
// vellico or vellico-cli.
namespace vellico::formats {

// Binary "bplist00" as CoreFoundation writes it (equal strings stored once).
// None for what the format cannot hold (a string that is not valid UTF-8, a
// value nested deeper than 1024 containers).
std::optional<std::vector<std::uint8_t>> toBinaryPropertyList(const PlistValue& value);

} // namespace vellico::formats
