#include "platform/entry_lookup.hpp"

#include "model/names.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace vellico::platform {

using model::isAscii;
using model::isSinglePathComponent;
using model::normalizedName;

namespace {

// A directory with more entries than this is not searched for a differently
// composed name: the exact name was already tried, and the search must not
// take minutes on a huge folder.
constexpr std::size_t maxEntriesSearched = 100000;

} // namespace

std::optional<std::string> matchingEntryName(int dirFd, std::string_view name)
{
    if (!isSinglePathComponent(name)) {
        return std::nullopt;
    }
    const std::string exact(name);
    struct stat st {};
    if (::fstatat(dirFd, exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return exact;
    }
    if (isAscii(name)) {
        return std::nullopt; // only one spelling exists
    }
    const auto entries = listDirectory(dirFd, false);
    if (!entries) {
        return std::nullopt;
    }
    if (entries->size() > maxEntriesSearched) {
        return std::nullopt;
    }
    const std::string wanted = normalizedName(name);
    std::optional<std::string> best;
    for (const DirEntry& entry : *entries) {
        if (normalizedName(entry.name) == wanted && (!best || entry.name < *best)) {
            best = entry.name;
        }
    }
    return best;
}

std::optional<std::filesystem::path> findDirectoryEntry(const std::filesystem::path& folder,
                                                        std::string_view name, EntryWanted type)
{
    const UniqueFd dir = openDirectoryPath(folder.string());
    if (!dir) {
        return std::nullopt;
    }
    const auto found = matchingEntryName(dir.get(), name);
    if (!found) {
        return std::nullopt;
    }
    if (type == EntryWanted::directory) {
        struct stat st {};
        if (::fstatat(dir.get(), found->c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode)) {
            return std::nullopt;
        }
    }
    return folder / *found;
}

std::filesystem::path spellingOnDisk(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) {
        return path;
    }
    std::filesystem::path result = absolute.root_path();
    auto it = absolute.begin();
    if (it != absolute.end() && absolute.has_root_path()) {
        ++it; // the root itself
    }
    bool found = true;
    for (; it != absolute.end(); ++it) {
        const std::string component = it->string();
        // "", "." and ".." stay as written: the system and weakly_canonical
        // resolve them. After the first miss nothing is looked up again.
        if (found && isSinglePathComponent(component)) {
            // Each folder is opened by path, so a link met on the way is
            // followed the way the system would follow it.
            const UniqueFd dir = openDirectoryPath(result.string());
            const auto entry = dir ? matchingEntryName(dir.get(), component) : std::nullopt;
            if (entry) {
                result /= *entry;
                continue;
            }
            found = false;
        }
        result /= *it;
    }
    return result;
}

} // namespace vellico::platform
