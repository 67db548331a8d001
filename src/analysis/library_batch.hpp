#pragma once

#include "analysis/intake_refusal.hpp"
#include "platform/file_identity.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Many libraries at once: the paths and folders a user gives become a list
// of distinct libraries, each reached the way it was found. Shared by every
// front end that takes more than one library. Blocking file-system work.
namespace vellico::analysis {

// A folder given to be searched, held open for the whole batch: what the
// search found below it is reached again from this descriptor, never from a
// path.
struct SearchRoot {
    platform::UniqueFd fd;
    model::FileIdentity identity;
};

// One library to take in: a path as given, or a library the search found.
struct BatchInput {
    // As given; for a found library, the folder given followed by the
    // relative path.
    std::string path;
    // Set for a found library: the folder it was found in, the names leading
    // to it from there, and the identity the search saw.
    std::shared_ptr<const SearchRoot> root;
    std::vector<std::string> components;
    model::FileIdentity identity;
};

// The libraries to take in, in order: each path as given, except that with
// `search` a folder that is not itself a library stands for every
// "*.fcpbundle" below it. The search is the platform walker's: each folder
// is opened from its parent without following a link, it never enters
// another mount (bind mounts of the same file system included) and never
// enters a library; what it finds below one folder comes in sorted (byte)
// order, written as the folder was given followed by the relative path.
// Folders that cannot be read are refused (`refusals`) and the search goes
// on. With `search`, `bounds` holds the identity of every path given
// (folders and libraries alike): nothing outside them is to be deleted.
struct BatchInputs {
    std::vector<BatchInput> libraries;
    std::vector<Refusal> refusals;
    std::vector<model::FileIdentity> bounds;
};
// Takes each library as soon as it is known, instead of `libraries`: a path
// given at once, a library found while the search goes on (in the order the
// walker meets them, not sorted). Called on the search's walker threads,
// several at once: it must be thread-safe, quick, and never throw.
using LibraryFound = std::function<void(BatchInput input)>;

// `walk` says how the search walks (threads, stop token, system calls);
// `found`, when given, counts the libraries the search meets as it meets
// them (any thread may read it meanwhile); `onFound`, when given, receives
// every library and `libraries` stays empty. The refusals and bounds are in
// the result either way.
BatchInputs collectInputs(const std::vector<std::string>& paths, bool search,
                          const platform::WalkControl& walk = {},
                          std::atomic<std::uint64_t>* found = nullptr,
                          const LibraryFound& onFound = {});

// Opens a library the search found, again from the search's own folder: each
// name without following a link, on the folder's own mount, and it must be
// the very directory the search saw. Invalid when anything changed.
platform::UniqueFd reopenFound(const BatchInput& input);

// A path through which path-only services reach the open directory `fd`
// itself, never a name again: its entry in /proc. Where /proc is missing,
// `fallback`.
std::filesystem::path accessPath(int fd, const std::filesystem::path& fallback);

// True when the open directory `fd` is one of `bounds` or lies inside one
// (going up through ".." from the descriptor, never by path).
bool insideBounds(int fd, const std::vector<model::FileIdentity>& bounds);

// What the libraries of one batch share: the identities already taken in (a
// library given twice, or under two paths, counts once) and the bounds of a
// search. Thread-safe.
//
// Intakes that run side by side each take a turn, in the order their items
// were given: a turn's claim waits until every earlier turn has claimed or
// ended, so that of two paths to one library the one given first is kept,
// whichever intake gets there first. Only the claims wait on each other;
// the rest of each intake runs side by side.
class BatchScope {
public:
    explicit BatchScope(const std::vector<model::FileIdentity>* bounds = nullptr);
    // Ends this scope's turn, if it holds one that has not claimed.
    ~BatchScope();
    BatchScope(BatchScope&& other) noexcept;
    BatchScope& operator=(BatchScope&&) = delete;
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

    // A scope for one intake, sharing what this one has seen, whose claim
    // comes after those of every turn taken before it. Turns are taken on
    // one thread, in the order of the items, and each is claimed or ended
    // (destroyed) on whatever thread runs its intake; an earlier turn must
    // never wait on a later one. `stop`, when requested, ends a wait: the
    // claim then answers false.
    BatchScope turn(const platform::StopToken* stop = nullptr);

    // True the first time a directory is met; false when it was taken in
    // already under another path (or the wait for an earlier turn was
    // stopped). May block until the earlier turns have claimed or ended.
    bool firstTime(const model::FileIdentity& id);

    // Ends this scope's turn without a claim (nothing when it holds none):
    // the later turns claim without waiting for it any more. Destruction
    // does the same.
    void endTurn();

    // None: the batch is not confined.
    const std::vector<model::FileIdentity>* bounds() const { return m_bounds; }

private:
    struct Claims;
    BatchScope(std::shared_ptr<Claims> claims, const std::vector<model::FileIdentity>* bounds,
               std::uint64_t turn, const platform::StopToken* stop);

    std::shared_ptr<Claims> m_claims;
    const std::vector<model::FileIdentity>* m_bounds;
    std::optional<std::uint64_t> m_turn; // none: claims at once
    const platform::StopToken* m_stop = nullptr;
};

// A backup bundle met by a search: not a library to clean, not a failure.
struct FoundBackup {
    std::string input;              // as found
    std::filesystem::path path;     // absolute
    std::filesystem::path original; // the library it was made from
    std::int64_t size = 0;          // the bundle's size, hidden items not counted
};

} // namespace vellico::analysis
