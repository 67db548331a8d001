#pragma once

#include <filesystem>

namespace vellico::platform {

// Per-item flags the intake checks before touching a library.
class ItemFlags {
public:
    virtual ~ItemFlags() = default;

    // The item is locked against changes by its owner (the Finder's "locked"
    // box on a Mac; the immutable attribute, chattr +i, on Linux). False when
    // the flag cannot be read.
    virtual bool isUserImmutable(const std::filesystem::path& item) const = 0;
};

// Reads the Linux immutable attribute (statx, STATX_ATTR_IMMUTABLE), links
// followed. False on file systems that do not report it.
class LinuxItemFlags final : public ItemFlags {
public:
    bool isUserImmutable(const std::filesystem::path& item) const override;
};

} // namespace vellico::platform
