#include "analysis/folder_size.hpp"

#include "platform/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <vector>

namespace vellico::analysis {

namespace {

using platform::UniqueFd;

// At most this many directories of the current path are held open. Deeper
// ones are closed and reopened through ".." on the way back up, checked by
// device and inode, so trees thousands of levels deep are measured without
// running out of descriptors.
constexpr std::size_t maxOpenDirectories = 48;

struct Frame {
    UniqueFd fd;      // closed while far from the top of the stack
    dev_t device = 0; // identity, to check a reopen through ".."
    ino_t inode = 0;
    std::vector<std::string> pending; // subdirectories not entered yet
    std::string relPath;              // kept for the two top levels only (exclusions)
    std::string name;                 // as listed in the parent; empty for the root
    bool reported = false;            // already named as unreadable
};

// A failure that means "could not be read", as opposed to an entry that
// vanished or turned into a link or a file since it was listed.
bool isReadFailure(int error)
{
    return error != ENOENT && error != ENOTDIR && error != ELOOP;
}

class SizeWalker {
public:
    SizeWalker(const std::set<std::string>* excluded, const SizeWalkOptions& options)
        : m_excluded(excluded), m_filesSeen(options.filesSeen), m_unreadable(options.unreadable)
    {}

    std::int64_t run(UniqueFd root)
    {
        if (!root) {
            return 0;
        }
        Frame top;
        if (!enter(std::move(root), top)) {
            return 0;
        }
        m_stack.push_back(std::move(top));

        while (!m_stack.empty()) {
            Frame& current = m_stack.back();
            if (current.pending.empty()) {
                leave();
                continue;
            }
            std::string name = std::move(current.pending.back());
            current.pending.pop_back();

            const std::size_t depth = m_stack.size(); // depth of the child
            std::string relPath;
            if (depth <= 2 && m_excluded != nullptr && !m_excluded->empty()) {
                relPath = current.relPath.empty() ? name : current.relPath + "/" + name;
                if (m_excluded->count(relPath) != 0) {
                    continue;
                }
            }
            // Between the listing and now the entry may have become a link or
            // a file: O_NOFOLLOW|O_DIRECTORY refuses both, and it counts 0.
            UniqueFd child = platform::openDirectoryAt(current.fd.get(), name.c_str());
            if (!child) {
                if (isReadFailure(errno) && !current.reported) {
                    // A folder that can be listed but not searched fails
                    // every child alike: it is the one named, once.
                    if (::faccessat(current.fd.get(), ".", X_OK, AT_EACCESS) != 0) {
                        current.reported = true;
                        reportUnreadable({}, &current);
                    } else {
                        reportUnreadable(name);
                    }
                }
                continue;
            }
            Frame frame;
            frame.relPath = std::move(relPath);
            frame.name = std::move(name);
            if (!enter(std::move(child), frame)) {
                continue;
            }
            m_stack.push_back(std::move(frame));
            if (m_stack.size() > maxOpenDirectories) {
                m_stack[m_stack.size() - 1 - maxOpenDirectories].fd.reset();
            }
        }
        return m_total;
    }

private:
    // Records the directory's identity, counts its files and collects its
    // subdirectories. False when it cannot be read at all.
    bool enter(UniqueFd fd, Frame& frame)
    {
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) {
            return false;
        }
        frame.device = st.st_dev;
        frame.inode = st.st_ino;
        frame.fd = std::move(fd);
        scan(frame);
        return true;
    }

    void scan(Frame& frame)
    {
        const int fd = frame.fd.get();
        for (;;) {
            const ssize_t n = ::getdents64(fd, m_buffer, sizeof m_buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && !frame.reported) {
                frame.reported = true;
                reportUnreadable({}, &frame); // the rest counts 0
            }
            if (n <= 0) {
                return;
            }
            for (ssize_t offset = 0; offset < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(m_buffer + offset);
                offset += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.') {
                    continue; // hidden, ".", ".."
                }
                visit(fd, name, entry->d_type, frame);
            }
        }
    }

    void visit(int dirFd, const char* name, unsigned char type, Frame& frame)
    {
        if (type == DT_DIR) {
            frame.pending.emplace_back(name);
            return;
        }
        if (type != DT_REG && type != DT_UNKNOWN) {
            return; // links, FIFOs, sockets, devices have no content of their own
        }
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // A folder that can be listed but not searched: every entry
            // fails alike, so the folder is named once.
            if (isReadFailure(errno) && !frame.reported) {
                frame.reported = true;
                reportUnreadable({}, &frame);
            }
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            frame.pending.emplace_back(name);
        } else if (S_ISREG(st.st_mode)) {
            add(st.st_size);
            if (m_filesSeen != nullptr) {
                m_filesSeen->fetch_add(1, std::memory_order_relaxed);
            }
        }
    }

    void add(off_t size)
    {
        if (size <= 0) {
            return;
        }
        if (__builtin_add_overflow(m_total, static_cast<std::int64_t>(size), &m_total)) {
            m_total = std::numeric_limits<std::int64_t>::max();
        }
    }

    // Pops the finished directory. Its parent becomes the top again; if the
    // parent's descriptor was closed to save descriptors, it is reopened
    // through ".." and must be the very directory we left. If it is not (the
    // tree was moved meanwhile), the walk stops there: what is left counts 0,
    // and nothing outside the folder is ever measured.
    void leave()
    {
        Frame done = std::move(m_stack.back());
        m_stack.pop_back();
        if (m_stack.empty() || m_stack.back().fd) {
            return;
        }
        Frame& parent = m_stack.back();
        UniqueFd reopened(::openat(done.fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        if (reopened && ::fstat(reopened.get(), &st) == 0 && st.st_dev == parent.device &&
            st.st_ino == parent.inode) {
            parent.fd = std::move(reopened);
        } else {
            m_stack.clear();
        }
    }

    // Names the path, relative to the root, of `name` in the directory on
    // top of the stack (or of `frame` itself, which may not be pushed yet).
    void reportUnreadable(std::string_view name, const Frame* frame = nullptr)
    {
        if (m_unreadable == nullptr) {
            return;
        }
        std::string path;
        auto append = [&path](std::string_view part) {
            if (part.empty()) {
                return;
            }
            if (!path.empty()) {
                path += '/';
            }
            path += part;
        };
        for (const Frame& open : m_stack) {
            append(open.name);
        }
        if (frame != nullptr && (m_stack.empty() || frame != &m_stack.back())) {
            append(frame->name);
        }
        append(name);
        m_unreadable->push_back(path.empty() ? std::string(".") : std::move(path));
    }

    const std::set<std::string>* m_excluded;
    std::atomic<std::uint64_t>* m_filesSeen;
    std::vector<std::string>* m_unreadable;
    std::vector<Frame> m_stack;
    std::int64_t m_total = 0;
    alignas(8) char m_buffer[64 * 1024];
};

} // namespace

std::int64_t folderSize(const std::filesystem::path& folder)
{
    return folderSize(platform::openDirectoryPath(folder.string()));
}

std::int64_t folderSize(UniqueFd directory, const SizeWalkOptions& options)
{
    SizeWalker walker(nullptr, options);
    return walker.run(std::move(directory));
}

std::int64_t folderSizeExcluding(UniqueFd directory, const std::set<std::string>& excluded,
                                 const SizeWalkOptions& options)
{
    SizeWalker walker(&excluded, options);
    return walker.run(std::move(directory));
}

} // namespace vellico::analysis
