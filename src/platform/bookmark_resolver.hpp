#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace vellico::platform {

// Finds on this machine the item that a bookmark (the editor's stored
// reference to a library, a cache or a backup location) points to.
// Implementations are read-only and never rewrite a bookmark.
class BookmarkResolver {
public:
    virtual ~BookmarkResolver() = default;

    // The target's path on this machine; none when the bytes are not a
    // bookmark or the target cannot be found (its disk is not mounted…).
    virtual std::optional<std::filesystem::path>
    resolve(std::span<const std::uint8_t> bookmark) const = 0;

    // The path stored in the bookmark, as written, without looking for it.
    virtual std::optional<std::filesystem::path>
    storedPath(std::span<const std::uint8_t> bookmark) const = 0;
};

// Resolves nothing: for callers that have no bookmark support.
class NullBookmarkResolver final : public BookmarkResolver {
public:
    std::optional<std::filesystem::path> resolve(std::span<const std::uint8_t>) const override
    {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> storedPath(std::span<const std::uint8_t>) const override
    {
        return std::nullopt;
    }
};

} // namespace vellico::platform
