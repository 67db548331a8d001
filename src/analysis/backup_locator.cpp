#include "analysis/backup_locator.hpp"

#include "analysis/backup_records.hpp"
#include "analysis/folder_size.hpp"
#include "analysis/library_identity.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/file_system.hpp"

#include <sys/stat.h>

#include <set>

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

// The backup folder's name, or that name, a blank and more ("My Film 2").
bool isCandidateName(const std::string& entry, const std::string& folderName)
{
    const std::string name = model::normalizedName(entry);
    const std::string wanted = model::normalizedName(folderName);
    return name == wanted ||
           (name.size() > wanted.size() + 1 && name.compare(0, wanted.size(), wanted) == 0 &&
            name[wanted.size()] == ' ');
}

std::string resolvedPath(const fs::path& path)
{
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.string() : resolved.string();
}

bool isDirectoryFollowingLinks(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
                                       const ProgressSink& progress) const
{
    if (settings.boolFor("backupsEnabled") == false) {
        return;
    }
    const std::optional<std::string> folderName = settings.stringFor("backupFolderName");
    if (!folderName || folderName->empty()) {
        return;
    }
    const std::optional<std::string> identifier = libraryIdentifier(bundle);
    const std::vector<fs::path> volumes = m_mounts.volumeDirectories();
    std::set<std::string> counted; // resolved paths, so a folder reached twice counts once

    auto check = [&](const fs::path& candidate) {
        const std::string resolved = resolvedPath(candidate);
        if (counted.count(resolved) != 0) {
            return;
        }
        // Folders inside a library or a cache bundle are never backup folders.
        if (resolved.find(".fcpbundle") != std::string::npos ||
            resolved.find(".fcpcache") != std::string::npos) {
            return;
        }
        if (!isDirectoryFollowingLinks(candidate) || !isBackupFolder(candidate) ||
            matchBackupFolder(candidate, bundle, identifier, m_bookmarks) == BackupMatch::noMatch) {
            return;
        }
        publish(progress, status::measuringBackups);
        model::FoundFolder folder;
        folder.url = candidate;
        folder.name = std::string(model::backupsFolderName);
        folder.parentName = displayLocation(candidate, m_folders.home, volumes);
        // The identity is that of the folder itself, reached without
        // following a link: a backup folder reached through a link has none
        // and is never deleted (the link's target lies elsewhere).
        platform::UniqueFd parent = platform::openDirectoryPath(candidate.parent_path().string());
        platform::UniqueFd self =
            parent ? platform::openDirectoryAt(parent.get(), candidate.filename().c_str())
                   : platform::UniqueFd();
        if (self) {
            folder.identity = platform::identityOf(self.get());
            folder.size = folderSize(std::move(self));
        } else {
            folder.size = folderSize(candidate);
        }
        into.push_back(std::move(folder));
        counted.insert(resolved);
    };

    for (const char* container : backupContainers) {
        const fs::path dir = m_folders.movies / container;
        platform::UniqueFd fd = platform::openDirectoryPath(dir.string());
        const auto entries = fd ? platform::listDirectory(fd.get()) : std::nullopt;
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
    if (const auto* location = settings.dataFor("backupLocation")) {
        if (const auto folder = m_bookmarks.resolve(*location)) {
            const fs::path custom = *folder / *folderName;
            const std::string customResolved = resolvedPath(custom);
            bool listed = false;
            for (const fs::path& found : candidates) {
                listed = listed || resolvedPath(found) == customResolved;
            }
            if (!listed) {
                candidates.push_back(custom);
            }
        }
    }
    for (const fs::path& candidate : candidates) {
        check(candidate);
    }
}

} // namespace vellico::analysis
