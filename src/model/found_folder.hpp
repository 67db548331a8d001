#pragma once

#include "model/file_identity.hpp"
#include "model/uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vellico::model {

// One deletable folder found by the analysis.
struct FoundFolder {
    Uuid id = Uuid::quick();   // identity of the row in lists; fresh for every record
    std::filesystem::path url; // absolute location, as found (links not resolved)
    std::string name;          // the matching rule name, or "Final Cut Backups"
    // The event's folder name for an event folder; empty for a top-level
    // folder; for a backup folder, the display location of its container.
    std::string parentName;
    std::int64_t size = 0; // logical bytes, hidden items not counted

    // What the analysis saw at `url` (device, inode, mount). The deletion
    // refuses a folder whose identity changed since, so a folder swapped for
    // something else after the analysis is never removed. None when it could
    // not be read; such a folder is never deleted.
    std::optional<model::FileIdentity> identity;

    bool operator==(const FoundFolder&) const = default;
};

// Something the analysis left out on purpose, for the user to be told.
struct AnalysisNotice {
    enum class Kind {
        // A folder at a rule folder's or an event's place is the mount point
        // of another file system: it is not a folder of the library, and is
        // neither listed, measured nor deleted. `subject` is its path.
        mountPoint,
        // A name read from the library's settings would lead out of the
        // folder it names something in ("/usr", "../.."): ignored. `subject`
        // is the settings key, `value` the name as read.
        unsafeName,
        // A backup folder found for the library is the library itself or
        // holds it (a library kept in its own backups folder): not listed,
        // so never selected. `subject` is its path.
        holdsLibrary,
    };
    Kind kind = Kind::mountPoint;
    std::string subject;
    std::string value;

    bool operator==(const AnalysisNotice&) const = default;
};

// A folder the analysis could not read, and why.
struct UnreadableFolder {
    std::filesystem::path path; // absolute
    // The system's error number; 0 when the walk stopped there because the
    // folder moved while it was measured.
    int error = 0;

    bool operator==(const UnreadableFolder&) const = default;
};

// The result of analysing one library. A plain value, replaced whole by each
// analysis.
struct BundleInfo {
    std::filesystem::path url; // the library bundle that was analysed
    // The bundle directory the analysis read (none when it could not be
    // opened): the deletion acts only on that directory.
    std::optional<model::FileIdentity> identity;
    std::string name; // bundle's last path component without its extension
    std::int64_t totalSize = 0;
    std::vector<FoundFolder> foundFolders;         // in display order: backups first
    std::optional<std::filesystem::path> cacheURL; // external cache, only when found on disk
    std::int64_t cacheTotalSize = 0;
    bool isFromAlias = false;
    // Folders of the bundle that could not be read (permission, I/O error):
    // they count 0 in the sizes above, so the sizes are a lower bound when
    // this is not empty. In the order the walk met them.
    std::vector<UnreadableFolder> unreadableFolders;
    std::vector<AnalysisNotice> notices; // what was left out, in discovery order

    bool operator==(const BundleInfo&) const = default;
};

} // namespace vellico::model
