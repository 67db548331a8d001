#include "cli/clean_command.hpp"

#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "cli/analyze_command.hpp"
#include "cli/report.hpp"
#include "cli/texts.hpp"
#include "model/folder_group.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"

#include <unistd.h>

#include <iostream>

namespace vellico::cli {

namespace {

// The bar drawn on stderr while a library is deleted.
class ProgressBar {
public:
    ProgressBar(bool enabled, std::size_t total) : m_enabled(enabled), m_total(total) {}
    ~ProgressBar()
    {
        if (m_enabled && m_drawn) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }

    void update(std::size_t done, std::int64_t freed)
    {
        if (!m_enabled) {
            return;
        }
        constexpr std::size_t width = 30;
        const std::size_t filled = m_total == 0 ? width : done * width / m_total;
        std::cerr << "\r\033[K[" << std::string(filled, '#') << std::string(width - filled, '.')
                  << "] " << done << "/" << m_total << " dossiers, " << formatBytes(freed)
                  << " libérés" << std::flush;
        m_drawn = true;
    }

private:
    bool m_enabled;
    std::size_t m_total;
    bool m_drawn = false;
};

std::string openInEditorMessage(const std::string& name)
{
    return analysis::StatusText{
        lookup("Impossible de supprimer : « %1 » est maintenant ouverte dans Final Cut Pro."),
        {name}}
        .formatted();
}

void printSelection(std::ostream& out, const AnalysedLibrary& library,
                    const std::vector<model::FoundFolder>& folders)
{
    out << "Bibliothèque « " << library.info.name << " » — "
        << lookup(model::labelKey(library.preset)) << "\n";
    if (folders.empty()) {
        out << "  Rien à supprimer.\n";
        return;
    }
    for (const model::FoundFolder& folder : folders) {
        out << "  " << cleanup::failureLabel(folder) << " : " << formatBytes(folder.size) << "\n";
        if (model::namesEqual(folder.name, model::backupsFolderName)) {
            out << "      " << folder.url.string() << "\n";
        }
    }
    out << "  À supprimer : " << formatBytes(model::selectedSize(&library.info, library.selection))
        << "\n";
}

} // namespace

std::optional<bool> TerminalConfirmation::ask(const std::string& question)
{
    if (::isatty(STDIN_FILENO) != 1) {
        return std::nullopt;
    }
    std::cerr << question << " [o/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "o" || answer == "O" || answer == "oui" || answer == "y" || answer == "yes";
}

int runClean(const CleanOptions& options, Confirmation& confirmation, std::ostream& out,
             std::ostream& err)
{
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const MachineServices machine(options.home);
    nlohmann::ordered_json libraries = nlohmann::ordered_json::array();
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    bool allRemoved = true;

    auto fail = [&](const std::string& input, const std::string& message) {
        errors.push_back({{"input", input}, {"message", message}});
        if (!options.json) {
            err << "vellico-cli: " << message << "\n";
        }
        allRemoved = false;
    };

    for (const std::string& input : options.paths) {
        platform::WalkControl walk;
        walk.jobs = options.jobs;
        AnalyzeOutcome outcome =
            analyzeOne(input, options.preset, machine.services(walk), terminal);
        if (!outcome.library) {
            fail(input, outcome.error);
            continue;
        }
        const AnalysedLibrary& library = *outcome.library;
        const std::vector<model::FoundFolder> folders =
            cleanup::foldersToDelete(library.info, library.selection);
        nlohmann::ordered_json json = libraryJson(library);
        json["dryRun"] = options.dryRun;
        json["deleted"] = false;
        if (!options.json) {
            printSelection(out, library, folders);
        }
        auto finish = [&] {
            if (options.json) {
                libraries.push_back(std::move(json));
            }
        };
        if (folders.empty() || options.dryRun) {
            finish();
            continue;
        }
        if (cleanup::isLibraryOpenInFCP(library.info.url)) {
            fail(input, openInEditorMessage(library.info.name));
            finish();
            continue;
        }
        if (!options.yes) {
            const std::string question =
                "Supprimer définitivement " + std::to_string(folders.size()) +
                (folders.size() == 1 ? " dossier (" : " dossiers (") +
                formatBytes(model::selectedSize(&library.info, library.selection)) + ") de « " +
                library.info.name + " » ?";
            const std::optional<bool> answer = confirmation.ask(question);
            if (!answer) {
                fail(input, "Aucun terminal pour confirmer la suppression : relancez avec --yes.");
                finish();
                continue;
            }
            if (!*answer) {
                fail(input, "Suppression annulée pour « " + library.info.name + " ».");
                finish();
                continue;
            }
        }

        cleanup::LibraryLock lock;
        if (!lock.acquire(library.info.url)) {
            fail(input, openInEditorMessage(library.info.name));
            finish();
            continue;
        }
        cleanup::DeletionResult result;
        {
            ProgressBar bar(terminal, folders.size());
            result = cleanup::performDeletion(
                library.info.url, folders,
                [&](std::size_t done, std::int64_t freed) { bar.update(done, freed); },
                platform::defaultSystemCalls(), walk);
        }
        lock.release();

        json["deleted"] = true;
        json["freedSpace"] = result.freedSpace;
        nlohmann::ordered_json failures = nlohmann::ordered_json::array();
        for (const cleanup::DeletionFailure& failure : result.errors) {
            failures.push_back({{"name", failure.name}, {"error", failure.error}});
        }
        json["failures"] = std::move(failures);
        if (!result.errors.empty()) {
            allRemoved = false;
        }
        if (!options.json) {
            out << (result.errors.empty() ? "  Terminé !" : "  Terminé avec des erreurs") << "\n";
            if (result.freedSpace >= 1) {
                out << "  " << formatBytes(result.freedSpace) << " libérés\n";
            }
            if (result.errors.empty()) {
                out << "  Les fichiers générés par FCP ont été supprimés.\n";
            } else {
                out << "  Échecs de suppression :\n";
                for (const cleanup::DeletionFailure& failure : result.errors) {
                    out << "    " << failure.name << " : " << failure.error << "\n";
                }
            }
        }
        finish();
    }
    if (options.json) {
        out << dumpJson({{"libraries", std::move(libraries)}, {"errors", errors}}) << "\n";
    }
    out.flush();
    return allRemoved ? 0 : 1;
}

} // namespace vellico::cli
