#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <string_view>

// The enumerations and small records the view model publishes. Values are
// plain; the cases keep their declaration order.
namespace vellico::viewmodel {
Q_NAMESPACE

// The phase the main window shows.
enum class AppState { idle, analyzing, ready, deleting, done };
Q_ENUM_NS(AppState)

// The sheet presented on the main window; none means no sheet.
enum class ActiveSheet { warning, alias, backup, iCloud, missingCache, cacheInfo, fcpLocked };
Q_ENUM_NS(ActiveSheet)

// Answers of the asking sheets. `cancel` (and false for the two yes/no
// sheets) is also what a newer intake answers for a sheet still waiting.
enum class AliasResponse { analyze, showInFinder, cancel };
Q_ENUM_NS(AliasResponse)
enum class BackupResponse { analyzeOriginal, showInFinder, cancel };
Q_ENUM_NS(BackupResponse)
enum class FCPLockedResponse { cancel, showFCP, analyzeAnyway, unlocked };
Q_ENUM_NS(FCPLockedResponse)

// The sheet's identifier: its case name ("warning", "alias", "backup",
// "iCloud", "missingCache", "cacheInfo", "fcpLocked").
std::string_view activeSheetId(ActiveSheet sheet);

// What the alias sheet shows: the alias's name without extension and the
// library it leads to.
struct AliasSheetData {
    QString aliasName;
    std::filesystem::path originalURL;
    bool operator==(const AliasSheetData&) const = default;
};

// What the backup sheet shows: the backup's display name and its original.
struct BackupSheetData {
    QString backupName;
    std::filesystem::path originalURL;
    bool operator==(const BackupSheetData&) const = default;
};

// One folder the last deletion could not remove: its label ("Render Files
// (Event X)") and the system's description of the failure.
struct DeletionErrorEntry {
    QString name;
    QString error;
    bool operator==(const DeletionErrorEntry&) const = default;
};

} // namespace vellico::viewmodel
