#include "model/names.hpp"

#include "platform/file_system.hpp"

#include <utf8proc.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace vellico::model {

namespace {

bool isAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string normalizedName(std::string_view name)
{
    if (isAscii(name)) {
        return std::string(name); // already NFC; the common case costs nothing
    }
    utf8proc_uint8_t* out = nullptr;
    const utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                     static_cast<utf8proc_ssize_t>(name.size()), &out,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> holder(out, &std::free);
    if (n < 0) {
        return std::string(name); // not UTF-8: bytes compare as bytes
    }
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

bool namesEqual(std::string_view a, std::string_view b)
{
    if (a == b) {
        return true;
    }
    return normalizedName(a) == normalizedName(b);
}

bool isSinglePathComponent(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

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
    const auto entries = platform::listDirectory(dirFd, false);
    if (!entries) {
        return std::nullopt;
    }
    const std::string wanted = normalizedName(name);
    for (const platform::DirEntry& entry : *entries) {
        if (normalizedName(entry.name) == wanted) {
            return entry.name;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> findDirectoryEntry(const std::filesystem::path& folder,
                                                        std::string_view name, EntryWanted type)
{
    const platform::UniqueFd dir = platform::openDirectoryPath(folder.string());
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
            const platform::UniqueFd dir = platform::openDirectoryPath(result.string());
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

} // namespace vellico::model
