#include "cleanup/folder_removal.hpp"

#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vellico::cleanup {

namespace {

using platform::FileIdentity;
using platform::UniqueFd;

// O_NONBLOCK and O_NOCTTY only matter if something that is not a directory
// slips past O_DIRECTORY; O_NOFOLLOW refuses a link in the last component.
constexpr int kOpenDirectoryFlags =
    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// Descriptors kept open for the deepest levels of the walk; a level further
// up is closed and reopened through ".." of its child when the walk comes
// back to it. Together with the anchor, the folder's parent and one listing
// this stays far below a limit of 64 open files.
constexpr std::size_t kMaxOpenLevels = 16;

// How often an emptied directory is listed again when rmdir still finds it
// not empty (network clients create "._*" files behind our back; a program
// may still be writing).
constexpr int kNotEmptyRescans = 3;

// A directory entry changes type under us at most this often before the
// entry is given up (file, then directory, then file…).
constexpr int kTypeChangeAttempts = 3;

bool endsFolder(int error)
{
    switch (error) {
    case EROFS:
    case EIO:
    case ESTALE:
    case ENOTCONN:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EBADF:
        return true;
    default:
        return false;
    }
}

bool differentFileSystem(const FileIdentity& child, const FileIdentity& parent)
{
    if (child.device != parent.device) {
        return true;
    }
    // A bind mount of the same file system shares the device number.
    return child.mountId != 0 && parent.mountId != 0 && child.mountId != parent.mountId;
}

struct Entry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
};

// Removes the contents of one verified directory and then the directory.
class TreeRemover {
public:
    TreeRemover(SystemCalls& calls, std::filesystem::path rootPath, platform::StopToken stop)
        : m_calls(calls), m_rootPath(std::move(rootPath)), m_buffer(32 * 1024), m_stopToken(stop)
    {}

    std::optional<RemovalError> run(int anchorFd, const std::string& rootName, UniqueFd rootFd,
                                    const FileIdentity& rootId);

private:
    struct Level {
        UniqueFd fd; // closed for levels far above the deepest one
        FileIdentity id;
        std::string name; // name in the parent level (in the anchor for the root)
        std::vector<Entry> entries;
        std::size_t next = 0;
        int rescans = 0;
        bool listed = false;
        bool failedInside = false; // something below stays: rmdir is pointless
    };

    bool list(Level& level);
    void handleEntry(const Entry& entry);
    void finishTop();
    int parentFdOfTop();

    std::filesystem::path pathOf(const std::string& name) const;
    void fail(RemovalProblem problem, int error, const std::filesystem::path& path);

    SystemCalls& m_calls;
    std::filesystem::path m_rootPath;
    std::vector<char> m_buffer;
    std::vector<Level> m_levels;
    int m_anchorFd = -1;
    std::optional<RemovalError> m_firstError;
    platform::StopToken m_stopToken;
    bool m_stop = false;
};

std::optional<RemovalError> TreeRemover::run(int anchorFd, const std::string& rootName,
                                             UniqueFd rootFd, const FileIdentity& rootId)
{
    m_anchorFd = anchorFd;
    m_levels.push_back(Level{std::move(rootFd), rootId, rootName, {}, 0, 0, false, false});

    while (!m_levels.empty() && !m_stop) {
        if (m_stopToken.stopRequested()) {
            fail(RemovalProblem::interrupted, EINTR, pathOf({}));
            break;
        }
        Level& top = m_levels.back();
        if (!top.listed && !list(top)) {
            top.failedInside = true;
            top.entries.clear();
            top.next = 0;
            top.listed = true;
        }
        if (m_stop) {
            break;
        }
        if (top.next < top.entries.size()) {
            // Copy: handleEntry may push a level and move the vector's storage.
            const Entry entry = top.entries[top.next++];
            handleEntry(entry);
        } else {
            finishTop();
        }
    }
    return m_firstError;
}

// Reads every name of the directory before anything in it is unlinked:
// removing entries while reading skips some on NFS and SMB.
bool TreeRemover::list(Level& level)
{
    level.entries.clear();
    level.next = 0;
    if (::lseek(level.fd.get(), 0, SEEK_SET) < 0) {
        fail(RemovalProblem::systemError, errno, pathOf({}));
        return false;
    }
    for (;;) {
        const long n = m_calls.getdents64(level.fd.get(), m_buffer.data(), m_buffer.size());
        if (n < 0) {
            fail(RemovalProblem::systemError, errno, pathOf({}));
            return false;
        }
        if (n == 0) {
            break;
        }
        long offset = 0;
        while (offset < n) {
            const auto* record = reinterpret_cast<const struct dirent64*>(m_buffer.data() + offset);
            const char* name = record->d_name;
            if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                level.entries.push_back(Entry{name, record->d_type});
            }
            offset += record->d_reclen;
        }
    }
    level.listed = true;
    return true;
}

void TreeRemover::handleEntry(const Entry& entry)
{
    const int dirFd = m_levels.back().fd.get();
    const char* name = entry.name.c_str();
    unsigned char type = entry.type;

    if (type == DT_UNKNOWN) {
        // NFS, overlayfs and FUSE leave d_type empty: ask, without following
        // a link, so that a FIFO is never opened to learn what it is.
        struct statx stx {};
        if (m_calls.statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &stx) != 0) {
            if (errno != ENOENT) {
                m_levels.back().failedInside = true;
                fail(RemovalProblem::systemError, errno, pathOf(entry.name));
            }
            return;
        }
        type = S_ISDIR(stx.stx_mode) ? DT_DIR : DT_REG;
    }

    for (int attempt = 0; attempt < kTypeChangeAttempts; ++attempt) {
        if (type != DT_DIR) {
            if (m_calls.unlinkat(dirFd, name, 0) == 0 || errno == ENOENT) {
                return;
            }
            if (errno == EISDIR) {
                type = DT_DIR; // became a directory since it was listed
                continue;
            }
            m_levels.back().failedInside = true;
            fail(RemovalProblem::systemError, errno, pathOf(entry.name));
            return;
        }

        const int fd = m_calls.openat(dirFd, name, kOpenDirectoryFlags);
        if (fd >= 0) {
            UniqueFd child(fd);
            const std::optional<FileIdentity> id = platform::identityOf(child.get());
            if (!id) {
                m_levels.back().failedInside = true;
                fail(RemovalProblem::systemError, errno, pathOf(entry.name));
                return;
            }
            if (differentFileSystem(*id, m_levels.back().id)) {
                // A mount point: what is mounted there is not part of the
                // folder. It stays, and so does the folder around it.
                m_levels.back().failedInside = true;
                fail(RemovalProblem::mountPointInside, EBUSY, pathOf(entry.name));
                return;
            }
            // Bound the open descriptors: the level kMaxOpenLevels above the
            // new one is closed; finishTop reopens it through "..".
            if (m_levels.size() >= kMaxOpenLevels) {
                m_levels[m_levels.size() - kMaxOpenLevels].fd.reset();
            }
            m_levels.push_back(Level{std::move(child), *id, entry.name, {}, 0, 0, false, false});
            return;
        }
        if (errno == ENOENT) {
            return;
        }
        if (errno == ENOTDIR || errno == ELOOP) {
            type = DT_REG; // a link or a file now stands under that name: unlink it
            continue;
        }
        m_levels.back().failedInside = true;
        fail(RemovalProblem::systemError, errno, pathOf(entry.name));
        return;
    }
    m_levels.back().failedInside = true;
    fail(RemovalProblem::systemError, EAGAIN, pathOf(entry.name));
}

// The descriptor of the directory holding the top level, reopened through
// ".." when it was closed to bound the open descriptors. -1 when the walk
// can no longer be trusted (the tree was moved meanwhile).
int TreeRemover::parentFdOfTop()
{
    if (m_levels.size() == 1) {
        return m_anchorFd;
    }
    Level& parent = m_levels[m_levels.size() - 2];
    if (!parent.fd) {
        const int fd = m_calls.openat(m_levels.back().fd.get(), "..", kOpenDirectoryFlags);
        if (fd < 0) {
            fail(RemovalProblem::systemError, errno, pathOf({}));
            m_stop = true;
            return -1;
        }
        UniqueFd reopened(fd);
        const std::optional<FileIdentity> id = platform::identityOf(reopened.get());
        if (!id || !id->sameAs(parent.id)) {
            // The directory was moved elsewhere while we were inside it.
            fail(RemovalProblem::identityChanged, ESTALE, pathOf({}));
            m_stop = true;
            return -1;
        }
        parent.fd = std::move(reopened);
    }
    return parent.fd.get();
}

void TreeRemover::finishTop()
{
    Level& top = m_levels.back();
    const bool isRoot = m_levels.size() == 1;
    bool removed = false;

    // Also when nothing is removed here: the walk goes on in the parent.
    const int parentFd = parentFdOfTop();
    if (parentFd < 0) {
        return;
    }
    if (!top.failedInside) {
        // The root's parent lies outside the folder: make sure the name still
        // means the directory we emptied before removing it there.
        if (isRoot) {
            const std::optional<FileIdentity> now =
                platform::identityAt(parentFd, top.name.c_str());
            if (!now || !now->sameAs(top.id)) {
                fail(RemovalProblem::identityChanged, ESTALE, m_rootPath);
                m_stop = true;
                return;
            }
        }
        // Closed before rmdir, as rm does: the directory is then freed by
        // the rmdir itself, not later by a close of a removed directory.
        top.fd.reset();
        if (m_calls.unlinkat(parentFd, top.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
            removed = true;
        } else if ((errno == ENOTEMPTY || errno == EEXIST) && top.rescans < kNotEmptyRescans) {
            // List it again and remove the newcomers, provided the name still
            // means the directory we emptied.
            const int fd = m_calls.openat(parentFd, top.name.c_str(), kOpenDirectoryFlags);
            UniqueFd again(fd);
            const std::optional<FileIdentity> id =
                again ? platform::identityOf(again.get()) : std::nullopt;
            if (id && id->sameAs(top.id)) {
                ++top.rescans;
                top.listed = false;
                top.fd = std::move(again);
                return;
            }
            if (!again && errno == ENOENT) {
                removed = true; // gone meanwhile
            } else {
                fail(RemovalProblem::identityChanged, ESTALE, pathOf({}));
            }
        } else {
            fail(RemovalProblem::systemError, errno, pathOf({}));
        }
    }

    m_levels.pop_back();
    if (!removed && !m_levels.empty()) {
        m_levels.back().failedInside = true;
    }
}

std::filesystem::path TreeRemover::pathOf(const std::string& name) const
{
    std::filesystem::path path = m_rootPath;
    for (std::size_t i = 1; i < m_levels.size(); ++i) {
        path /= m_levels[i].name;
    }
    if (!name.empty()) {
        path /= name;
    }
    return path;
}

void TreeRemover::fail(RemovalProblem problem, int error, const std::filesystem::path& path)
{
    if (!m_firstError) {
        m_firstError = RemovalError{problem, error, path};
    }
    if (endsFolder(error)) {
        m_stop = true;
    }
}

tl::unexpected<RemovalError> failure(RemovalProblem problem, int error,
                                     const std::filesystem::path& path)
{
    return tl::unexpected(RemovalError{problem, error, path});
}

} // namespace

tl::expected<void, RemovalError> removeFoundFolder(const std::filesystem::path& bundle,
                                                   const model::FoundFolder& folder,
                                                   SystemCalls& calls, platform::StopToken stop)
{
    const std::filesystem::path& url = folder.url;
    if (!folder.identity) {
        return failure(RemovalProblem::identityUnknown, ENODATA, url);
    }

    std::filesystem::path target = url.lexically_normal();
    if (!target.has_filename()) {
        target = target.parent_path(); // "…/Render Files/"
    }
    if (!target.is_absolute() || !target.has_filename() || target.filename() == ".." ||
        target.filename() == ".") {
        return failure(RemovalProblem::systemError, EINVAL, url);
    }

    // Never the library itself or a folder holding it, whatever the record says.
    if (!bundle.empty()) {
        const std::filesystem::path holder = bundle.lexically_normal().lexically_relative(target);
        if (!holder.empty() && *holder.begin() != "..") {
            return failure(RemovalProblem::systemError, EINVAL, url);
        }
    }

    // Anchor and the components below it. A folder of the library is reached
    // from the bundle; anything else (a backup folder) from its parent.
    std::filesystem::path anchor;
    std::vector<std::string> components;
    const std::filesystem::path inBundle = target.lexically_relative(bundle.lexically_normal());
    if (!bundle.empty() && !inBundle.empty() && *inBundle.begin() != ".." &&
        *inBundle.begin() != ".") {
        anchor = bundle.lexically_normal();
        for (const auto& part : inBundle) {
            if (!part.empty()) {
                components.push_back(part.string());
            }
        }
    } else {
        anchor = target.parent_path();
        components.push_back(target.filename().string());
    }

    const int anchorRaw =
        calls.openat(AT_FDCWD, anchor.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (anchorRaw < 0) {
        return failure(RemovalProblem::systemError, errno, url);
    }
    UniqueFd parent(anchorRaw);
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        const int fd = calls.openat(parent.get(), components[i].c_str(), kOpenDirectoryFlags);
        if (fd < 0) {
            // ELOOP or ENOTDIR: an event folder became a link or a file.
            return failure(errno == ELOOP || errno == ENOTDIR ? RemovalProblem::identityChanged
                                                              : RemovalProblem::systemError,
                           errno, url);
        }
        parent.reset(fd);
    }

    const std::string& rootName = components.back();
    const int rootRaw = calls.openat(parent.get(), rootName.c_str(), kOpenDirectoryFlags);
    if (rootRaw < 0) {
        return failure(errno == ELOOP || errno == ENOTDIR ? RemovalProblem::identityChanged
                                                          : RemovalProblem::systemError,
                       errno, url);
    }
    UniqueFd root(rootRaw);
    const std::optional<FileIdentity> rootId = platform::identityOf(root.get());
    if (!rootId) {
        return failure(RemovalProblem::systemError, errno, url);
    }
    if (!rootId->sameAs(*folder.identity)) {
        return failure(RemovalProblem::identityChanged, ESTALE, url);
    }
    // A mount point is not a folder of anything: checking only below the
    // folder would empty whatever is mounted at its very place.
    const std::optional<FileIdentity> parentId = platform::identityOf(parent.get());
    if (!parentId || platform::onOtherMount(*rootId, *parentId)) {
        return failure(RemovalProblem::mountPoint, EBUSY, url);
    }

    TreeRemover remover(calls, url, stop);
    if (std::optional<RemovalError> error =
            remover.run(parent.get(), rootName, std::move(root), *rootId)) {
        return tl::unexpected(std::move(*error));
    }
    return {};
}

} // namespace vellico::cleanup
