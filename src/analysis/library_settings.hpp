#pragma once

#include "formats/property_list.hpp"

#include <filesystem>
#include <optional>

namespace vellico::analysis {

// The library's "Settings.plist" dictionary, read from the bundle's open
// directory without following a link; none when it is missing, unreadable,
// too large, malformed, or not a dictionary.
std::optional<formats::PlistValue> readLibrarySettings(int bundleFd);
std::optional<formats::PlistValue> readLibrarySettings(const std::filesystem::path& bundle);

} // namespace vellico::analysis
