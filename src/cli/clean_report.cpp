#include "cli/clean_report.hpp"

#include "cleanup/lock_record.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/byte_sum.hpp"
#include "model/folder_group.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"

#include <algorithm>
#include <cstring>

namespace vellico::cli {

namespace {

std::string openInEditorMessage(const std::string& name)
{
    return say("Impossible de supprimer : « %1 » est maintenant ouverte dans Final Cut Pro.",
               {name});
}

// A folder of the list before the question: "Render Files (event)", or a
// backup folder by its own path.
std::string selectionLabel(const model::FoundFolder& folder)
{
    if (model::namesEqual(folder.name, model::backupsFolderName)) {
        return folderLabel(folder);
    }
    return shown(cleanup::failureLabel(folder));
}

// Our own text for our own refusals, the system's for a failed call.
std::string removalFailureText(const cleanup::DeletionFailure& failure)
{
    const std::string_view key = cleanup::messageKey(failure.detail.problem);
    return key.empty() ? failure.error : say(key, {failure.detail.path.string()});
}

// Why a library has nothing to delete, in one sentence.
std::string emptySelectionReason(const AnalysedLibrary& library, const CommandLine& options)
{
    if (library.info.foundFolders.empty()) {
        return say("Aucun dossier de fichiers générés n'a été trouvé.");
    }
    if (!library.outsideBounds.empty()) {
        return say("Les dossiers sélectionnés sont hors des dossiers parcourus.");
    }
    if (options.only) {
        const model::FolderSelection chosen =
            refinedSelection(options.preset, library.info.foundFolders, options.only, {});
        return chosen.empty() ? say("Aucun dossier des types demandés par --only n'a été trouvé.")
                              : say("--except retire tous les dossiers choisis.");
    }
    if (!model::presetSelection(options.preset, library.info.foundFolders).empty()) {
        return say("--except retire tous les dossiers choisis.");
    }
    return say("Le préréglage « %1 » ne sélectionne aucun des dossiers trouvés ; --only en "
               "choisit d'autres.",
               {lookup(model::labelKey(options.preset))});
}

// What became of one library's deletion, in one line.
std::string outcomeLine(const cleanup::DeletionResult& result, const std::string& name,
                        const ReportStyle& style)
{
    const std::string freed = sizeText(result.freedSpace, style);
    if (result.stopped) {
        return say("« %1 » : interrompu, %2 libérés.", {name, freed});
    }
    if (!result.errors.empty()) {
        return say("« %1 » : terminé avec des erreurs, %2 libérés.", {name, freed});
    }
    return say("« %1 » : terminé, %2 libérés.", {name, freed});
}

} // namespace

std::string heldMessage(const AnalysedLibrary& library)
{
    const std::string& name = library.info.name;
    const std::optional<cleanup::LockHolder> holder =
        library.bundle && *library.bundle ? cleanup::lockHolder(library.bundle->get())
                                          : std::nullopt;
    if (holder && holder->isVellico) {
        if (holder->hostname.empty()) {
            return say("Impossible de supprimer : « %1 » est en cours de nettoyage par une autre "
                       "instance de Vellico.",
                       {name});
        }
        return say("Impossible de supprimer : « %1 » est en cours de nettoyage par Vellico sur %2.",
                   {name, holder->hostname});
    }
    if (holder) {
        return say("Impossible de supprimer : « %1 » est maintenant ouverte dans Final Cut Pro sur "
                   "%2.",
                   {name, holder->hostname});
    }
    return openInEditorMessage(name);
}

std::string refusalMessage(const cleanup::LibraryLock& lock, const AnalysedLibrary& library)
{
    const cleanup::ClaimRefusal refusal = lock.refusal();
    const std::string& name = library.info.name;
    switch (refusal) {
    case cleanup::ClaimRefusal::unsafeLockFile:
        return say("Impossible de supprimer : le fichier de verrou « .lock » de « %1 » n'est pas "
                   "un fichier ordinaire. Rien n'a été supprimé.",
                   {name});
    case cleanup::ClaimRefusal::lockFileUnreadable:
        return say("Impossible de supprimer : le fichier de verrou « .lock » de « %1 » ne peut pas "
                   "être ouvert (%2). Rien n'a été supprimé.",
                   {name, cleanup::systemErrorText(lock.refusalError())});
    case cleanup::ClaimRefusal::unreachable:
        return say("Impossible de supprimer : « %1 » ne peut plus être ouverte. Rien n'a été "
                   "supprimé.",
                   {name});
    case cleanup::ClaimRefusal::heldByEditor:
    case cleanup::ClaimRefusal::none:
        break;
    }
    return heldMessage(library);
}

std::string folderCount(std::size_t count)
{
    return i18n::fillPlural("%1 dossiers", static_cast<std::int64_t>(count));
}

void printSelection(std::ostream& out, const Pending& pending, const CommandLine& options,
                    const ReportStyle& style, bool sized)
{
    const bool dryRun = options.dryRun;
    const AnalysedLibrary& library = pending.library;
    out << say("Bibliothèque « %1 » — %2",
               {shown(library.info.name), lookup(model::labelKey(library.preset))})
        << "\n";
    out << "  " << shortPath(library.info.url) << "\n";
    if (pending.folders.empty()) {
        out << "  " << say("Rien à supprimer.") << " " << emptySelectionReason(library, options)
            << "\n";
        return;
    }
    std::vector<model::FoundFolder> folders = pending.folders;
    std::stable_sort(folders.begin(), folders.end(),
                     [&style, sized](const model::FoundFolder& a, const model::FoundFolder& b) {
                         if (sized && style.sort == SortOrder::size && a.size != b.size) {
                             return a.size > b.size;
                         }
                         return std::strcoll(selectionLabel(a).c_str(), selectionLabel(b).c_str()) <
                                0;
                     });
    std::size_t width = 0;
    for (const model::FoundFolder& folder : folders) {
        width = std::max(width, displayWidth(selectionLabel(folder)));
    }
    for (const model::FoundFolder& folder : folders) {
        if (sized) {
            out << "  " << padded(selectionLabel(folder), width + 1)
                << sizeColumn(folder.size, style) << "\n";
        } else {
            out << "  " << selectionLabel(folder) << "\n";
        }
        if ((dryRun || style.verbose) &&
            !model::namesEqual(folder.name, model::backupsFolderName)) {
            out << "      " << shortPath(folder.url) << "\n";
        }
    }
    const std::string selected =
        sized ? sizeText(model::selectedSize(&library.info, library.selection), style)
              : folderCount(pending.folders.size());
    out << "  "
        << (dryRun ? say("Serait supprimé : %1", {selected}) : say("À supprimer : %1", {selected}))
        << "\n";
}

std::string libraryCount(std::size_t count)
{
    return i18n::fillPlural("%1 bibliothèques", static_cast<std::int64_t>(count));
}

nlohmann::ordered_json pendingJson(const Pending& pending, bool dryRun)
{
    nlohmann::ordered_json json = libraryJson(pending.library);
    const cleanup::DeletionResult none;
    const cleanup::DeletionResult& result = pending.result ? *pending.result : none;
    json["dryRun"] = dryRun;
    json["deleted"] = pending.result.has_value();
    json["freedSpace"] = result.freedSpace;
    json["foldersRemoved"] = result.foldersRemoved;
    json["interrupted"] = result.stopped;
    json["interruptedFolder"] = nullptr;
    if (result.interruptedFolder) {
        putPath(json, "interruptedFolder", *result.interruptedFolder);
    }
    json["interruptedFolders"] = nlohmann::ordered_json::array();
    for (const std::string& label : result.interruptedFolders) {
        json["interruptedFolders"].push_back(label);
    }
    nlohmann::ordered_json failures = nlohmann::ordered_json::array();
    for (const cleanup::DeletionFailure& failure : result.errors) {
        nlohmann::ordered_json entry;
        putPath(entry, "path", failure.detail.path);
        putPath(entry, "label", failure.name);
        entry["error"] = removalFailureText(failure);
        entry["errno"] = failure.detail.errorNumber;
        failures.push_back(std::move(entry));
    }
    json["failures"] = std::move(failures);
    return json;
}

void printOutcome(std::ostream& out, const cleanup::DeletionResult& result,
                  const AnalysedLibrary& library, std::int64_t folderCount,
                  const ReportStyle& style, const std::vector<model::FoundFolder>* folders)
{
    out << outcomeLine(result, shown(library.info.name), style) << "\n";
    if (folders != nullptr && !style.quiet && result.removals.size() == folders->size()) {
        std::vector<std::size_t> order(folders->size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        const auto label = [&](std::size_t i) { return selectionLabel((*folders)[i]); };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const std::int64_t sizeA = result.removals[a].bytes;
            const std::int64_t sizeB = result.removals[b].bytes;
            if (style.sort == SortOrder::size && sizeA != sizeB) {
                return sizeA > sizeB;
            }
            return std::strcoll(label(a).c_str(), label(b).c_str()) < 0;
        });
        std::size_t width = 0;
        for (const std::size_t i : order) {
            width = std::max(width, displayWidth(label(i)));
        }
        for (const std::size_t i : order) {
            out << "  " << padded(label(i), width + 1)
                << sizeColumn(result.removals[i].bytes, style) << "\n";
        }
    }
    if (result.stopped) {
        out << "    "
            << say("Dossiers supprimés : %1 sur %2",
                   {i18n::formatCount(static_cast<std::int64_t>(result.foldersRemoved)),
                    i18n::formatCount(folderCount)})
            << "\n";
        for (const std::string& label : result.interruptedFolders) {
            out << "    " << say("Dossier interrompu, supprimé en partie : %1", {shown(label)})
                << "\n";
        }
    }
    for (const cleanup::DeletionFailure& failure : result.errors) {
        out << "    "
            << say("%1 : %2 (%3)", {shown(failure.name), shown(removalFailureText(failure)),
                                    shown(failure.detail.path.string())})
            << "\n";
    }
}

} // namespace vellico::cli
