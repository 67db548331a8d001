#include "formats/linux/linux_alias_files.hpp"

#include "formats/bookmark_data.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>

namespace vellico::platform {

namespace {

enum class ItemKind { missing, link, regular, other };

ItemKind kindOf(const std::filesystem::path& item)
{
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) {
        return ItemKind::missing;
    }
    if (S_ISLNK(st.st_mode)) {
        return ItemKind::link;
    }
    return S_ISREG(st.st_mode) ? ItemKind::regular : ItemKind::other;
}

// The file's bytes when it is a regular file holding a bookmark of the file
// form; none otherwise.
std::optional<std::vector<std::uint8_t>> aliasBytes(const std::filesystem::path& item)
{
    auto bytes = readRegularFileAt(AT_FDCWD, item.c_str(), formats::maxBookmarkBytes);
    if (!bytes || !formats::hasBookmarkFileMagic(*bytes)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

LinuxAliasFiles::LinuxAliasFiles(std::shared_ptr<const BookmarkResolver> bookmarks)
    : m_bookmarks(std::move(bookmarks))
{}

bool LinuxAliasFiles::isAliasFile(const std::filesystem::path& item) const
{
    switch (kindOf(item)) {
    case ItemKind::link:
        return true;
    case ItemKind::regular:
        return aliasBytes(item).has_value();
    default:
        return false;
    }
}

std::optional<std::filesystem::path>
LinuxAliasFiles::resolveAliasFile(const std::filesystem::path& item) const
{
    switch (kindOf(item)) {
    case ItemKind::link: {
        std::error_code ec;
        std::filesystem::path target = std::filesystem::canonical(item, ec);
        if (ec) {
            return std::nullopt; // dangling, looping or unreadable on the way
        }
        return target;
    }
    case ItemKind::regular: {
        const auto bytes = aliasBytes(item);
        if (!bytes || !m_bookmarks) {
            return std::nullopt;
        }
        auto target = m_bookmarks->resolve(*bytes);
        if (!target || !target->is_absolute()) {
            return std::nullopt;
        }
        return target;
    }
    default:
        return std::nullopt;
    }
}

} // namespace vellico::platform
