#pragma once

#include "platform/item_flags.hpp"

#include <tl/expected.hpp>

#include <filesystem>
#include <string>

namespace vellico::analysis {

// Why an item given to the application is not taken in. `text` is the name
// the user message inserts: the item's name without extension for
// `aliasUnresolvable`, `missing`, `notALibrary` after the extension check,
// and `locked`; the full last component for `notALibrary` when the
// extension itself is wrong.
struct IntakeError {
    enum class Kind { missing, aliasUnresolvable, notALibrary, locked };
    Kind kind;
    std::string text;
};

// A library that passed the checks that need no question.
struct LibraryItem {
    std::filesystem::path url; // the library itself (a link resolved)
    bool isFromAlias = false;  // reached through a symbolic link
    std::string displayName;   // last component without extension
};

// The checks the intake makes without asking the user, in order: the item
// exists; a symbolic link is followed to its target (as an alias is); the
// extension is "fcpbundle" in any case; "Settings.plist" and
// "CurrentVersion.flexolibrary" exist inside; the item is not locked.
tl::expected<LibraryItem, IntakeError> checkLibraryItem(const std::filesystem::path& input,
                                                        const platform::ItemFlags& flags);

// True when the extension of `path`'s last component is "fcpbundle" in any case.
bool hasLibraryExtension(const std::filesystem::path& path);

} // namespace vellico::analysis
