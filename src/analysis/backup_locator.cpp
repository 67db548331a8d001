#include "analysis/backup_locator.hpp"

#include "analysis/backup_records.hpp"
#include "analysis/folder_size.hpp"
#include "analysis/library_identity.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/entry_lookup.hpp"
#include "platform/file_identity.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>

#include <cstdint>
#include <set>
#include <utility>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

constexpr const char* backupContainers[] = {"Final Cut Backups.localized", "Final Cut Backups"};

std::string trimmedTrailingSlash(const std::string& text)
{
    return platform::withoutTrailingSlashes(text).string();
}

// The rest of `path` after the folder `prefix` ("" when equal, "/…"
// otherwise); none when `path` is not inside it. Compared by whole
// components, so "/home/anabel" is not inside "/home/ana".
std::optional<std::string> restAfter(const std::string& path, std::string prefix)
{
    prefix = trimmedTrailingSlash(std::move(prefix));
    if (prefix.empty() || prefix == "/") {
        return std::nullopt;
    }
    if (path == prefix) {
        return std::string();
    }
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
        path[prefix.size()] == '/') {
        return path.substr(prefix.size());
    }
    return std::nullopt;
}

std::string withoutLocalized(std::string text)
{
    constexpr std::string_view localized = ".localized";
    for (auto pos = text.find(localized); pos != std::string::npos;
         pos = text.find(localized, pos)) {
        text.erase(pos, localized.size());
    }
    return text;
}

// The backup folder's name, or that name followed by a blank and whatever
// comes after it ("My Film 2", and "My Film " with nothing after the blank),
// compared by canonical equivalence.
bool isCandidateName(const std::string& entry, const std::string& folderName)
{
    const std::string name = model::normalizedName(entry);
    const std::string wanted = model::normalizedName(folderName);
    return name == wanted ||
           (name.size() > wanted.size() && name.starts_with(wanted) && name[wanted.size()] == ' ');
}

std::string resolvedPath(const fs::path& path)
{
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.string() : resolved.string();
}

// A backup folder candidate, opened once.
struct Candidate {
    platform::UniqueFd fd;
    std::optional<model::FileIdentity> identity;
};

// Opens the candidate folder: its container by path (a Movies folder moved
// to another disk and linked back is common, and is the user's own doing),
// the folder itself from the container without following a link. A
// candidate that is a symbolic link is replaced by its target beforehand
// (see `linkTarget`), so what is opened here is never the link. A folder
// that is itself a mount point is not a backup folder of the library
// either: what is mounted there is another file system, never measured or
// deleted.
Candidate openCandidate(const fs::path& candidate)
{
    Candidate found;
    const fs::path path = platform::withoutTrailingSlashes(candidate);
    const platform::UniqueFd container = platform::openDirectoryPath(path.parent_path().string());
    if (!container) {
        return found;
    }
    found.fd = platform::openDirectoryAt(container.get(), path.filename().c_str());
    if (!found.fd) {
        return found;
    }
    found.identity = platform::identityOf(found.fd.get());
    const auto containerId = platform::identityOf(container.get());
    if (!found.identity || !containerId || model::onOtherMount(*found.identity, *containerId)) {
        found.fd.reset();
    }
    return found;
}

// Where a candidate that is a symbolic link leads, when that is a folder on
// one of the searched volumes (the home's, or a mounted volume); none when
// the candidate is no link. A link that leads elsewhere, or nowhere, gives
// an empty path: it is skipped. The folder is then listed, measured and
// deleted as itself, by its own path and identity: the deletion never goes
// through the link, which stays as it is.
std::optional<fs::path> linkTarget(const fs::path& candidate, const std::vector<fs::path>& searched)
{
    const fs::path path = platform::withoutTrailingSlashes(candidate);
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec) {
        return std::nullopt;
    }
    const fs::path target = fs::canonical(path, ec);
    if (ec || !fs::is_directory(fs::symlink_status(target, ec)) || ec) {
        return fs::path();
    }
    for (const fs::path& root : searched) {
        if (restAfter(target.string(), root.string())) {
            return target;
        }
    }
    return fs::path();
}

platform::UniqueFd reopenDirectory(int fd)
{
    // A fresh open file description for the measurement: the checks read
    // the directory through the first one.
    return platform::UniqueFd(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The places searched, for the targets of links: the home (with its Movies
// folder) and every mounted volume, as given and resolved.
std::vector<fs::path> searchedPlaces(const platform::UserFolders& folders,
                                     const std::vector<fs::path>& volumes)
{
    std::vector<fs::path> searched{folders.home, folders.movies};
    searched.insert(searched.end(), volumes.begin(), volumes.end());
    for (std::size_t i = 0, n = searched.size(); i < n; ++i) {
        std::error_code ec;
        if (fs::path real = fs::canonical(searched[i], ec); !ec && real != searched[i]) {
            searched.push_back(std::move(real));
        }
    }
    return searched;
}

// The backup folder in the custom location the settings name, if it is on
// disk. The settings may spell the name in the other Unicode form than the
// folder on disk (a library moved between a Mac and this machine).
std::optional<fs::path> customLocation(const formats::PlistValue& settings,
                                       const std::string& folderName,
                                       const platform::BookmarkResolver& bookmarks)
{
    const auto* location = settings.dataFor("backupLocation");
    if (location == nullptr) {
        return std::nullopt;
    }
    const auto folder = bookmarks.resolve(*location);
    return folder ? platform::findDirectoryEntry(*folder, folderName, platform::EntryWanted::any)
                  : std::nullopt;
}

} // namespace

std::string displayLocation(const fs::path& folder, const fs::path& home,
                            const std::vector<fs::path>& volumes)
{
    const std::string parent =
        fs::path(trimmedTrailingSlash(folder.string())).parent_path().string();

    // A sandboxed process's home lies inside the real one's Library/Containers.
    std::vector<std::string> homes{trimmedTrailingSlash(home.string())};
    constexpr std::string_view containers = "/Library/Containers/";
    if (const auto pos = homes[0].find(containers); pos != std::string::npos) {
        homes.push_back(homes[0].substr(0, pos));
    }
    for (const std::string& h : homes) {
        if (const auto rest = restAfter(parent, h)) {
            return rest->empty() ? "~" : "~" + withoutLocalized(*rest);
        }
    }
    if (const auto rest = restAfter(parent, "/Volumes"); rest && !rest->empty()) {
        return withoutLocalized(rest->substr(1));
    }
    for (const fs::path& volume : volumes) {
        if (const auto rest = restAfter(parent, volume.string())) {
            return withoutLocalized(volume.filename().string() + *rest);
        }
    }
    return fs::path(parent).filename().string();
}

LibraryBackupLocator::LibraryBackupLocator(platform::UserFolders folders,
                                           const platform::BookmarkResolver& bookmarks,
                                           const platform::BackupIndex& index,
                                           const platform::MountTable& mounts)
    : m_folders(std::move(folders)), m_bookmarks(bookmarks), m_index(index), m_mounts(mounts)
{}

void LibraryBackupLocator::findBackups(const formats::PlistValue& settings, const fs::path& bundle,
                                       std::vector<model::FoundFolder>& into,
                                       const ProgressSink& progress,
                                       const platform::WalkControl& walk) const
{
    if (settings.boolFor("backupsEnabled") == false) {
        return;
    }
    // A name read from the library: it must stay one folder's name.
    const std::optional<std::string> folderName = settings.stringFor("backupFolderName");
    if (!folderName || !model::isSinglePathComponent(*folderName)) {
        return;
    }
    const std::optional<std::string> identifier = libraryIdentifier(bundle);
    const std::vector<fs::path> volumes = m_mounts.volumeDirectories();
    // (device, inode) of the folders counted, so a folder reached twice
    // (through the Movies folder and a volume, or through a link) counts once.
    std::set<std::pair<std::uint64_t, std::uint64_t>> counted;

    const std::vector<fs::path> searched = searchedPlaces(m_folders, volumes);

    auto check = [&](const fs::path& met) {
        if (walk.stop != nullptr && walk.stop->stopRequested()) {
            return; // stopped: no more candidates are read or measured
        }
        fs::path candidate = met;
        if (const std::optional<fs::path> target = linkTarget(met, searched)) {
            if (target->empty()) {
                return;
            }
            candidate = *target;
        }
        // Folders inside a library or a cache bundle are never backup folders.
        const std::string resolved = resolvedPath(candidate);
        if (resolved.find(".fcpbundle") != std::string::npos ||
            resolved.find(".fcpcache") != std::string::npos) {
            return;
        }
        // The candidate is opened once, and every check, the measurement and
        // the identity kept for the deletion go through that descriptor. A
        // second lookup of the path after the checks could meet another
        // directory: whoever can write beside the folder may rename its
        // container away and put a link to someone else's folder in its
        // place while the checks run (reading a backup's database is slow).
        const Candidate found = openCandidate(candidate);
        if (!found.fd || !found.identity) {
            return;
        }
        if (counted.count({found.identity->device, found.identity->inode}) != 0) {
            return;
        }
        if (!isBackupFolder(found.fd.get()) ||
            matchBackupFolder(found.fd.get(), bundle, identifier, m_bookmarks) ==
                BackupMatch::noMatch) {
            return;
        }
        publish(progress, status::measuringBackups);
        model::FoundFolder folder;
        folder.url = candidate;
        folder.name = std::string(model::backupsFolderName);
        folder.parentName = displayLocation(candidate, m_folders.home, volumes);
        folder.identity = found.identity;
        folder.size = folderSize(reopenDirectory(found.fd.get()), walk);
        into.push_back(std::move(folder));
        counted.insert({found.identity->device, found.identity->inode});
    };

    for (const char* container : backupContainers) {
        const fs::path dir = m_folders.movies / container;
        platform::UniqueFd fd = platform::openDirectoryPath(dir.string());
        const auto entries = platform::listDirectory(fd.get());
        if (!entries) {
            continue;
        }
        for (const platform::DirEntry& entry : *entries) {
            if (isCandidateName(entry.name, *folderName)) {
                check(dir / entry.name);
            }
        }
    }

    publish(progress, status::spotlightBackups);
    std::vector<fs::path> candidates = m_index.searchBackupFolders(*folderName, indexTimeLimit);
    if (const std::optional<fs::path> custom = customLocation(settings, *folderName, m_bookmarks)) {
        const std::string customResolved = resolvedPath(*custom);
        bool listed = false;
        for (const fs::path& found : candidates) {
            listed = listed || resolvedPath(found) == customResolved;
        }
        if (!listed) {
            candidates.push_back(*custom);
        }
    }
    for (const fs::path& candidate : candidates) {
        check(candidate);
    }
}

} // namespace vellico::analysis
