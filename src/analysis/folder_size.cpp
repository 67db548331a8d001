#include "analysis/folder_size.hpp"

#include "model/byte_sum.hpp"
#include "platform/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace vellico::analysis {

namespace {

using platform::UniqueFd;

// A failure that means "could not be read", as opposed to an entry that
// vanished or turned into a link or a file since it was listed.
bool isReadFailure(int error)
{
    return error != ENOENT && error != ENOTDIR && error != ELOOP;
}

using platform::WalkDirectory;
using platform::WalkTally;
using platform::WalkVisitor;

// Adds up regular files by tag: tag 0 is the tree outside the listed
// subfolders, tag i + 1 the i-th subfolder.
class SizeVisitor final : public WalkVisitor {
public:
    SizeVisitor(platform::SystemCalls& calls, const std::vector<std::string>& subfolders,
                const std::function<void(std::size_t)>& entering, const std::vector<bool>& unwalked)
        : m_calls(calls), m_entering(entering), m_unwalked(unwalked),
          m_sums(std::make_unique<std::atomic<std::uint64_t>[]>(subfolders.size() + 1)),
          m_identities(subfolders.size())
    {
        for (std::size_t i = 0; i < subfolders.size(); ++i) {
            m_wanted.emplace(subfolders[i], static_cast<std::uint32_t>(i + 1));
        }
    }

    bool enter(WalkDirectory& child) override
    {
        if (m_wanted.empty() || child.depth > 2 || child.tag != 0) {
            return true;
        }
        const std::string path =
            child.depth == 1 ? child.name : child.parent->name + "/" + child.name;
        const auto found = m_wanted.find(path);
        if (found != m_wanted.end()) {
            child.tag = found->second;
            m_identities[found->second - 1] = child.identity; // one writer per subfolder
            if (m_entering) {
                m_entering(found->second - 1);
            }
            const std::size_t index = found->second - 1;
            if (index < m_unwalked.size() && m_unwalked[index]) {
                return false; // its identity only: its size comes from elsewhere
            }
        }
        return true;
    }

    Entry entry(int dirFd, const WalkDirectory& dir, const char* name, unsigned char type,
                WalkTally& tally) override
    {
        if (type != DT_REG && type != DT_UNKNOWN) {
            return Entry::done; // links, FIFOs, sockets, devices have no content of their own
        }
        struct statx stx {};
        if (m_calls.statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &stx) != 0) {
            // A folder that can be listed but not searched fails every
            // entry alike: the folder is named (once, the set keeps one).
            if (const int error = errno; isReadFailure(error)) {
                noteUnreadable(dir, "", error);
            }
            return Entry::done; // vanished or unreadable: counts 0
        }
        if (S_ISDIR(stx.stx_mode)) {
            return Entry::directory;
        }
        if (S_ISREG(stx.stx_mode)) {
            ++tally.files;
            tally.bytes += stx.stx_size;
        }
        return Entry::done;
    }

    bool failed(const WalkDirectory& dir, const char* name, platform::WalkFailure what,
                int error) override
    {
        if ((what == platform::WalkFailure::open || what == platform::WalkFailure::list) &&
            isReadFailure(error)) {
            noteUnreadable(dir, name, error);
        }
        if (what == platform::WalkFailure::identityChanged) {
            // The walk stopped there (a folder moved while it was measured):
            // what lies below was not counted, and the sizes say so.
            noteUnreadable(dir, name, 0);
        }
        return false;
    }

    void counted(const WalkDirectory& dir, const WalkTally& tally) override
    {
        m_sums[dir.tag].fetch_add(tally.bytes, std::memory_order_relaxed);
    }

    TreeSizes result() const
    {
        TreeSizes sizes;
        sizes.subfolders.resize(m_identities.size());
        sizes.total = model::saturatedSize(m_sums[0].load());
        for (std::size_t i = 0; i < m_identities.size(); ++i) {
            sizes.subfolders[i].size = model::saturatedSize(m_sums[i + 1].load());
            sizes.subfolders[i].identity = m_identities[i];
            sizes.total = model::saturatingAdd(sizes.total, sizes.subfolders[i].size);
        }
        const std::lock_guard lock(m_unreadableMutex);
        for (const auto& [path, error] : m_unreadable) {
            sizes.unreadable.push_back({path, error});
        }
        return sizes;
    }

private:
    // `name` in `dir` (or `dir` itself when `name` is empty), relative to the root.
    void noteUnreadable(const WalkDirectory& dir, const char* name, int error)
    {
        std::string path = name;
        for (const WalkDirectory* at = &dir; at != nullptr && at->parent != nullptr;
             at = at->parent) {
            path = path.empty() ? at->name : at->name + "/" + path;
        }
        const std::lock_guard lock(m_unreadableMutex);
        m_unreadable.emplace(path.empty() ? std::string(".") : path, error);
    }

    mutable std::mutex m_unreadableMutex;
    std::map<std::string, int> m_unreadable; // sorted, each once (its first error)
    platform::SystemCalls& m_calls;
    const std::function<void(std::size_t)>& m_entering;
    const std::vector<bool>& m_unwalked;
    std::map<std::string, std::uint32_t> m_wanted;
    std::unique_ptr<std::atomic<std::uint64_t>[]> m_sums;
    std::vector<std::optional<model::FileIdentity>> m_identities;
};

} // namespace

std::int64_t folderSize(const std::filesystem::path& folder, const platform::WalkControl& control)
{
    return folderSize(platform::openDirectoryPath(folder.string()), control);
}

std::int64_t folderSize(UniqueFd directory, const platform::WalkControl& control)
{
    return measureTree(std::move(directory), {}, control).total;
}

TreeSizes measureTree(UniqueFd directory, const std::vector<std::string>& subfolders,
                      const platform::WalkControl& control,
                      const std::function<void(std::size_t)>& entering,
                      const std::vector<bool>& unwalked)
{
    platform::SystemCalls& calls = control.calls ? *control.calls : platform::defaultSystemCalls();
    SizeVisitor visitor(calls, subfolders, entering, unwalked);
    if (directory) {
        if (const std::optional<model::FileIdentity> id =
                platform::identityOf(calls, directory.get())) {
            std::vector<platform::WalkRoot> roots(1);
            roots[0].fd = std::move(directory);
            roots[0].identity = *id;
            platform::walkTrees(std::move(roots), visitor, control, platform::WalkOrder::streaming,
                                true);
        }
    }
    return visitor.result();
}

} // namespace vellico::analysis
