#include "analysis/library_batch.hpp"

#include "analysis/library_intake.hpp"
#include "i18n/system_error.hpp"
#include "platform/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

std::string joined(const std::string& folder, const std::string& rel)
{
    if (!folder.empty() && folder.back() == '/') {
        return folder + rel;
    }
    return folder + "/" + rel;
}

// Collects the libraries below one folder: libraries are recorded and not
// entered, every other directory is entered (the walker opens it from its
// parent, never through a link, never on another mount).
class LibrarySearch final : public platform::WalkVisitor {
public:
    struct Found {
        std::vector<std::string> components;
        model::FileIdentity identity;
    };
    struct Unreadable {
        std::string relativePath;
        int error = 0;
    };

    // `found`, when given, counts the libraries as they are met; `onFound`,
    // when given, takes each one at once (found under `given`, open at
    // `root`) instead of takeFound().
    LibrarySearch(std::atomic<std::uint64_t>* found, const LibraryFound& onFound, std::string given,
                  std::shared_ptr<const SearchRoot> root)
        : m_count(found), m_onFound(onFound), m_given(std::move(given)), m_root(std::move(root))
    {}

    bool enter(platform::WalkDirectory& child) override
    {
        if (!hasLibraryExtension(child.name)) {
            return true;
        }
        if (m_onFound) {
            BatchInput input;
            input.components = namesFromRoot(child);
            input.path = joined(m_given, joinedNames(input.components));
            input.root = m_root;
            input.identity = child.identity;
            if (m_count != nullptr) {
                m_count->fetch_add(1, std::memory_order_relaxed);
            }
            m_onFound(std::move(input));
            return false;
        }
        const std::lock_guard lock(m_mutex);
        m_found.push_back({namesFromRoot(child), child.identity});
        if (m_count != nullptr) {
            m_count->fetch_add(1, std::memory_order_relaxed);
        }
        return false; // a library is taken whole, never entered
    }

    Entry entry(int dirFd, const platform::WalkDirectory& /*dir*/, const char* name,
                unsigned char type, platform::WalkTally& /*tally*/) override
    {
        if (type != DT_UNKNOWN) {
            return Entry::done; // a file, a link (never followed), a device…
        }
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            return Entry::directory;
        }
        return Entry::done;
    }

    bool failed(const platform::WalkDirectory& dir, const char* name, platform::WalkFailure what,
                int error) override
    {
        if (what == platform::WalkFailure::otherMount) {
            return false; // another file system mounted here: not searched
        }
        std::vector<std::string> names = namesFromRoot(dir);
        if (name != nullptr && name[0] != '\0') {
            names.emplace_back(name);
        }
        const std::lock_guard lock(m_mutex);
        m_unreadable.push_back({joinedNames(names), error != 0 ? error : EIO});
        return false;
    }

    std::vector<Found> takeFound()
    {
        std::sort(m_found.begin(), m_found.end(),
                  [](const Found& a, const Found& b) { return a.components < b.components; });
        return std::move(m_found);
    }
    const std::vector<Unreadable>& unreadable() const { return m_unreadable; }

    static std::string joinedNames(const std::vector<std::string>& names)
    {
        std::string rel;
        for (const std::string& name : names) {
            rel = rel.empty() ? name : rel + "/" + name;
        }
        return rel;
    }

private:
    static std::vector<std::string> namesFromRoot(const platform::WalkDirectory& dir)
    {
        std::vector<std::string> names;
        for (const platform::WalkDirectory* d = &dir; d->parent != nullptr; d = d->parent) {
            names.push_back(d->name);
        }
        std::reverse(names.begin(), names.end());
        return names;
    }

    std::mutex m_mutex;
    std::atomic<std::uint64_t>* m_count = nullptr;
    const LibraryFound& m_onFound;
    const std::string m_given;
    const std::shared_ptr<const SearchRoot> m_root;
    std::vector<Found> m_found;           // guarded by m_mutex until the walk ends
    std::vector<Unreadable> m_unreadable; // guarded by m_mutex until the walk ends
};

Refusal unreadableFolder(const std::string& given, const std::string& path, int error)
{
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    return {given,
            (ec ? fs::path(path) : full).lexically_normal(),
            "dossier illisible : %1",
            {i18n::systemErrorText(error)}};
}

// Every library below `given`, the folder open at `root`.
void searchFolder(const std::string& given, const std::shared_ptr<const SearchRoot>& root,
                  const platform::WalkControl& walk, BatchInputs& inputs,
                  std::atomic<std::uint64_t>* foundCount, const LibraryFound& onFound)
{
    platform::WalkRoot walkRoot;
    walkRoot.fd = platform::UniqueFd(::fcntl(root->fd.get(), F_DUPFD_CLOEXEC, 0));
    walkRoot.identity = root->identity;
    walkRoot.name = given;
    if (!walkRoot.fd) {
        inputs.refusals.push_back(unreadableFolder(given, given, errno));
        return;
    }
    LibrarySearch search(foundCount, onFound, given, root);
    std::vector<platform::WalkRoot> roots;
    roots.push_back(std::move(walkRoot));
    platform::WalkControl control = walk;
    control.progress = nullptr;
    platform::walkTrees(std::move(roots), search, control, platform::WalkOrder::streaming, false);
    for (const LibrarySearch::Unreadable& failure : search.unreadable()) {
        inputs.refusals.push_back(unreadableFolder(
            given, failure.relativePath.empty() ? given : joined(given, failure.relativePath),
            failure.error));
    }
    for (LibrarySearch::Found& found : search.takeFound()) {
        BatchInput input;
        input.path = joined(given, LibrarySearch::joinedNames(found.components));
        input.root = root;
        input.components = std::move(found.components);
        input.identity = found.identity;
        inputs.libraries.push_back(std::move(input));
    }
}

} // namespace

struct BatchScope::Claims {
    std::mutex mutex;
    std::condition_variable ended; // a turn claimed or ended
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    std::uint64_t nextTurn = 0;
    std::set<std::uint64_t> open; // turns taken that have not claimed or ended
};

BatchScope::BatchScope(const std::vector<model::FileIdentity>* bounds)
    : m_claims(std::make_shared<Claims>()), m_bounds(bounds)
{}

BatchScope::BatchScope(std::shared_ptr<Claims> claims,
                       const std::vector<model::FileIdentity>* bounds, std::uint64_t turn,
                       const platform::StopToken* stop)
    : m_claims(std::move(claims)), m_bounds(bounds), m_turn(turn), m_stop(stop)
{}

BatchScope::BatchScope(BatchScope&& other) noexcept
    : m_claims(other.m_claims), m_bounds(other.m_bounds), m_turn(std::exchange(other.m_turn, {})),
      m_stop(other.m_stop)
{}

BatchScope::~BatchScope()
{
    endTurn();
}

BatchScope BatchScope::turn(const platform::StopToken* stop)
{
    const std::lock_guard lock(m_claims->mutex);
    const std::uint64_t turn = m_claims->nextTurn++;
    m_claims->open.insert(turn);
    return BatchScope(m_claims, m_bounds, turn, stop);
}

void BatchScope::endTurn()
{
    if (!m_turn) {
        return;
    }
    {
        const std::lock_guard lock(m_claims->mutex);
        m_claims->open.erase(*m_turn);
    }
    m_turn.reset();
    m_claims->ended.notify_all();
}

bool BatchScope::firstTime(const model::FileIdentity& id)
{
    std::unique_lock lock(m_claims->mutex);
    if (m_turn) {
        while (!m_claims->open.empty() && *m_claims->open.begin() < *m_turn) {
            if (m_stop != nullptr && m_stop->stopRequested()) {
                return false;
            }
            // A stop request does not notify: the wait is bounded instead.
            m_claims->ended.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    const bool first = m_claims->seen.emplace(id.device, id.inode).second;
    lock.unlock();
    endTurn();
    return first;
}

// Opens a library the search found, again from the search's own folder: each
// name without following a link, on the folder's own mount, and it must be
// the very directory the search saw. Invalid when anything changed.
platform::UniqueFd reopenFound(const BatchInput& input)
{
    platform::UniqueFd dir(::fcntl(input.root->fd.get(), F_DUPFD_CLOEXEC, 0));
    for (const std::string& name : input.components) {
        if (!dir) {
            return {};
        }
        dir = platform::openDirectoryAt(dir.get(), name.c_str());
        const std::optional<model::FileIdentity> id =
            dir ? platform::identityOf(dir.get()) : std::nullopt;
        if (!id || model::onOtherMount(*id, input.root->identity)) {
            return {};
        }
    }
    const std::optional<model::FileIdentity> id =
        dir ? platform::identityOf(dir.get()) : std::nullopt;
    if (!id || !id->sameAs(input.identity)) {
        return {};
    }
    return dir;
}

// True when the open directory `fd` is one of `bounds` or lies inside one.
bool insideBounds(int fd, const std::vector<model::FileIdentity>& bounds)
{
    const std::optional<model::FileIdentity> self = platform::identityOf(fd);
    const auto ancestors = platform::ancestorsOf(fd);
    if (!self || !ancestors) {
        return false;
    }
    const auto inBounds = [&bounds](const model::FileIdentity& id) {
        return std::any_of(bounds.begin(), bounds.end(), [&id](const model::FileIdentity& b) {
            return model::sameDirectory(id, b);
        });
    };
    return inBounds(*self) || std::any_of(ancestors->begin(), ancestors->end(), inBounds);
}

std::filesystem::path accessPath(int fd, const std::filesystem::path& fallback)
{
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
    return ::access(viaProc.c_str(), F_OK) == 0 ? std::filesystem::path(viaProc) : fallback;
}

BatchInputs collectInputs(const std::vector<std::string>& paths, bool search,
                          const platform::WalkControl& walk, std::atomic<std::uint64_t>* found,
                          const LibraryFound& onFound)
{
    BatchInputs inputs;
    const auto take = [&inputs, &onFound](BatchInput input) {
        if (onFound) {
            onFound(std::move(input));
        } else {
            inputs.libraries.push_back(std::move(input));
        }
    };
    for (const std::string& given : paths) {
        if (!search) {
            take(BatchInput{given, {}, {}, {}});
            continue;
        }
        // The place the user named: links in its path are followed.
        auto root = std::make_shared<SearchRoot>();
        root->fd = platform::openDirectoryPath(given);
        const std::optional<model::FileIdentity> id =
            root->fd ? platform::identityOf(root->fd.get()) : std::nullopt;
        if (id) {
            root->identity = *id;
            inputs.bounds.push_back(*id);
        }
        if (!id || hasLibraryExtension(given)) {
            // The intake says what is wrong with it, if anything.
            take(BatchInput{given, {}, {}, {}});
            continue;
        }
        searchFolder(given, root, walk, inputs, found, onFound);
    }
    return inputs;
}

} // namespace vellico::analysis
