#include "platform/file_system.hpp"

#include "platform/file_identity.hpp"
#include "platform/tree_walker.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace vellico::platform {

namespace {

EntryType typeFromMode(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return EntryType::directory;
    }
    if (S_ISREG(mode)) {
        return EntryType::regular;
    }
    if (S_ISLNK(mode)) {
        return EntryType::symlink;
    }
    return EntryType::other;
}

EntryType typeFromDirent(unsigned char dType)
{
    switch (dType) {
    case DT_DIR:
        return EntryType::directory;
    case DT_REG:
        return EntryType::regular;
    case DT_LNK:
        return EntryType::symlink;
    case DT_UNKNOWN:
        return EntryType::unknown;
    default:
        return EntryType::other;
    }
}

} // namespace

UniqueFd openDirectoryAt(int dirFd, const char* name)
{
    int fd;
    do {
        fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

UniqueFd openDirectoryPath(const std::string& path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

tl::expected<std::vector<DirEntry>, int> listDirectory(int dirFd, bool skipHidden,
                                                       SystemCalls& calls)
{
    // A fresh open file description: getdents offsets are per description,
    // so the caller's descriptor stays usable and the listing starts at the
    // beginning whatever the caller read before.
    UniqueFd own(calls.openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!own) {
        return tl::unexpected(errno);
    }
    std::vector<char> buffer(32 * 1024);
    DirectoryReader reader(calls, own.get(), buffer.data(), buffer.size());
    std::vector<DirEntry> entries;
    const char* name = nullptr;
    unsigned char type = DT_UNKNOWN;
    while (reader.next(name, type)) {
        if (skipHidden && name[0] == '.') {
            continue;
        }
        entries.push_back(DirEntry{name, typeFromDirent(type)});
    }
    if (reader.error() != 0) {
        return tl::unexpected(reader.error());
    }
    return entries;
}

std::optional<EntryType> typeAt(int dirFd, const char* name)
{
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return typeFromMode(st.st_mode);
}

EntryType resolvedType(int dirFd, const DirEntry& entry)
{
    if (entry.type != EntryType::unknown) {
        return entry.type;
    }
    return typeAt(dirFd, entry.name.c_str()).value_or(EntryType::unknown);
}

std::filesystem::path withoutTrailingSlashes(const std::filesystem::path& path)
{
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

bool existsAt(int dirFd, const char* name)
{
    struct stat st {};
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

UniqueFd openRegularFileAt(int dirFd, const char* name, int flags)
{
    const UniqueFd path(::openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return path ? reopenRegularFile(path.get(), dirFd, name, flags) : UniqueFd();
}

UniqueFd reopenRegularFile(int pathFd, int dirFd, const char* name, int flags)
{
    constexpr int always = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    auto refuseUnlessRegular = [](mode_t mode) {
        if (S_ISREG(mode)) {
            return false;
        }
        errno = S_ISLNK(mode) ? ELOOP : S_ISDIR(mode) ? EISDIR : ENXIO;
        return true;
    };
    struct stat checked {};
    if (::fstat(pathFd, &checked) != 0 || refuseUnlessRegular(checked.st_mode)) {
        return {};
    }
    // The descriptor's entry in /proc leads to the very inode checked, not
    // to whatever the name means by now.
    const std::string self = "/proc/self/fd/" + std::to_string(pathFd);
    int raw;
    do {
        raw = ::open(self.c_str(), (flags | always) & ~O_NOFOLLOW);
    } while (raw < 0 && errno == EINTR);
    if (raw >= 0 || errno != ENOENT) {
        return UniqueFd(raw);
    }
    // No /proc: open by name and keep it only if it is the inode checked.
    do {
        raw = ::openat(dirFd, name, flags | always);
    } while (raw < 0 && errno == EINTR);
    UniqueFd fd(raw);
    struct stat opened {};
    if (fd && (::fstat(fd.get(), &opened) != 0 || opened.st_dev != checked.st_dev ||
               opened.st_ino != checked.st_ino)) {
        errno = ENXIO;
        return {};
    }
    return fd;
}

namespace {

// The whole of the open file `fd` when it is a regular file of at most
// `maxBytes`; none otherwise.
std::optional<std::vector<std::uint8_t>> readOpenRegularFile(const UniqueFd& fd,
                                                             std::size_t maxBytes)
{
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    // The size may change while we read: read at most maxBytes + 1 and refuse
    // a file that turns out larger than the cap.
    std::vector<std::uint8_t> bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > maxBytes) {
                return std::nullopt;
            }
            bytes.resize(std::min(maxBytes + 1, bytes.size() * 2 + 4096));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > maxBytes) {
        return std::nullopt;
    }
    bytes.resize(used);
    return bytes;
}

} // namespace

std::optional<std::vector<std::uint8_t>> readRegularFileAt(int dirFd, const char* name,
                                                           std::size_t maxBytes)
{
    const UniqueFd fd = openRegularFileAt(dirFd, name, O_RDONLY);
    if (!fd) {
        return std::nullopt;
    }
    return readOpenRegularFile(fd, maxBytes);
}

std::optional<std::vector<std::uint8_t>> readRegularFile(const std::filesystem::path& path,
                                                         std::size_t maxBytes)
{
    // Non-blocking, so a FIFO in place of the file cannot hang the reader.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    return readOpenRegularFile(fd, maxBytes);
}

namespace {

std::optional<FileIdentity> statxIdentity(SystemCalls& calls, int dirFd, const char* name,
                                          int flags)
{
    struct statx stx {};
    if (calls.statx(dirFd, name, flags | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &stx) !=
        0) {
        return std::nullopt;
    }
    FileIdentity id;
    id.device = (static_cast<std::uint64_t>(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    id.inode = stx.stx_ino;
    id.mountId = (stx.stx_mask & STATX_MNT_ID) ? stx.stx_mnt_id : 0;
    return id;
}

} // namespace

std::optional<FileIdentity> identityOf(int fd)
{
    return identityOf(defaultSystemCalls(), fd);
}

std::optional<FileIdentity> identityOf(SystemCalls& calls, int fd)
{
    return statxIdentity(calls, fd, "", AT_EMPTY_PATH);
}

std::optional<FileIdentity> identityAt(int dirFd, const char* name)
{
    return statxIdentity(defaultSystemCalls(), dirFd, name, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileIdentity> identityAt(SystemCalls& calls, int dirFd, const char* name)
{
    return statxIdentity(calls, dirFd, name, AT_SYMLINK_NOFOLLOW);
}

std::optional<std::vector<FileIdentity>> ancestorsOf(int dirFd, std::size_t maxDepth)
{
    std::optional<FileIdentity> current = identityOf(dirFd);
    if (!current) {
        return std::nullopt;
    }
    std::vector<FileIdentity> ancestors;
    UniqueFd here;
    int fd = dirFd;
    while (ancestors.size() < maxDepth) {
        UniqueFd parent(::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const std::optional<FileIdentity> parentId =
            parent ? identityOf(parent.get()) : std::nullopt;
        if (!parentId) {
            return std::nullopt;
        }
        if (parentId->device == current->device && parentId->inode == current->inode) {
            return ancestors; // ".." of the root is the root itself
        }
        ancestors.push_back(*parentId);
        current = parentId;
        here = std::move(parent);
        fd = here.get();
    }
    return std::nullopt;
}

} // namespace vellico::platform
