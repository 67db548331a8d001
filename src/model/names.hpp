#pragma once

#include <string>
#include <string_view>

namespace vellico::model {

// Folder names compare case-sensitively but with Unicode canonical
// equivalence: "Évènement" typed on Linux (NFC) equals the same name read
// from an HFS+ disk (NFD). Names that are not valid UTF-8 (names are bytes on
// Linux) are kept as they are and compare byte for byte.
std::string normalizedName(std::string_view name);

bool namesEqual(std::string_view a, std::string_view b);

} // namespace vellico::model
