#pragma once

#include "platform/alias_files.hpp"
#include "platform/bookmark_resolver.hpp"

#include <memory>

namespace vellico::platform {

// Aliases on Linux. A symbolic link is an alias; its target is the link
// followed all the way (a dangling or looping link does not resolve). A
// regular file whose content starts with the 16-byte bookmark-file magic is
// a Finder alias copied from a Mac; it resolves through the bookmark
// resolver, like the editor's own bookmarks. Reads at most the bookmark
// size cap, never blocks on a FIFO, never follows a link while reading.
class LinuxAliasFiles final : public AliasFiles {
public:
    explicit LinuxAliasFiles(std::shared_ptr<const BookmarkResolver> bookmarks);

    bool isAliasFile(const std::filesystem::path& item) const override;
    std::optional<std::filesystem::path>
    resolveAliasFile(const std::filesystem::path& item) const override;

private:
    std::shared_ptr<const BookmarkResolver> m_bookmarks;
};

} // namespace vellico::platform
