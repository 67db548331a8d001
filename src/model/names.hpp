#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellico::model {

// Folder names compare case-sensitively but with Unicode canonical
// equivalence: "Évènement" typed on Linux (NFC) equals the same name read
// from an HFS+ disk (NFD). Names that are not valid UTF-8 (names are bytes on
// Linux) are kept as they are and compare byte for byte.
std::string normalizedName(std::string_view name);

bool namesEqual(std::string_view a, std::string_view b);

// True when `name`, read from a library's files ("cacheFolderName",
// "backupFolderName", a name in a record), can be joined to a folder's path
// and still name something inside that folder: one path component, not empty,
// not "." or "..", without "/" or NUL. A name that fails is ignored by every
// caller: "/usr" or "../../.." would otherwise lead the analysis (and a
// deletion) anywhere on the machine.
bool isSinglePathComponent(std::string_view name);

// True when every byte of `text` is ASCII: such a name has one spelling
// only, whatever the Unicode form.
bool isAscii(std::string_view text);

} // namespace vellico::model
