#pragma once

#include <filesystem>
#include <optional>

namespace vellico::platform {

// Recognises and follows the user's shortcuts to a library: on a Mac a
// Finder alias file, on Linux a symbolic link as well as an alias file copied
// over from a Mac (a regular file starting with the bookmark-file magic).
// Read-only; safe to call from any thread.
class AliasFiles {
public:
    virtual ~AliasFiles() = default;

    // True when the item itself (not what it points to) is an alias. False
    // when it is anything else or cannot be read.
    virtual bool isAliasFile(const std::filesystem::path& item) const = 0;

    // The absolute path of the alias's target on this machine; none when the
    // item is not an alias or its target cannot be found (a dangling link, an
    // alias to a volume that is not mounted). Never mounts anything.
    virtual std::optional<std::filesystem::path>
    resolveAliasFile(const std::filesystem::path& item) const = 0;
};

} // namespace vellico::platform
