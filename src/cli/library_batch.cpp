#include "cli/library_batch.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cleanup/removal_error.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/names.hpp"
#include "platform/file_system.hpp"
#include "platform/tree_walker.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <ostream>

namespace vellico::cli {

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
        platform::FileIdentity identity;
    };
    struct Unreadable {
        std::string relativePath;
        int error = 0;
    };

    bool enter(platform::WalkDirectory& child) override
    {
        if (!analysis::hasLibraryExtension(child.name)) {
            return true;
        }
        const std::lock_guard lock(m_mutex);
        m_found.push_back({namesFromRoot(child), child.identity});
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
    std::vector<Found> m_found;           // guarded by m_mutex until the walk ends
    std::vector<Unreadable> m_unreadable; // guarded by m_mutex until the walk ends
};

InputError unreadableFolder(const std::string& given, const std::string& path, int error)
{
    return {given, absolutePath(path),
            say("dossier illisible : %1", {cleanup::systemErrorText(error)})};
}

// Every library below `given`, the folder open at `root`.
void searchFolder(const std::string& given, const std::shared_ptr<const SearchRoot>& root,
                  const platform::WalkControl& walk, Inputs& inputs)
{
    platform::WalkRoot walkRoot;
    walkRoot.fd = platform::UniqueFd(::fcntl(root->fd.get(), F_DUPFD_CLOEXEC, 0));
    walkRoot.identity = root->identity;
    walkRoot.name = given;
    if (!walkRoot.fd) {
        inputs.errors.push_back(unreadableFolder(given, given, errno));
        return;
    }
    LibrarySearch search;
    std::vector<platform::WalkRoot> roots;
    roots.push_back(std::move(walkRoot));
    platform::WalkControl control = walk;
    control.progress = nullptr;
    platform::walkTrees(std::move(roots), search, control, platform::WalkOrder::streaming, false);
    for (const LibrarySearch::Unreadable& failure : search.unreadable()) {
        inputs.errors.push_back(unreadableFolder(
            given, failure.relativePath.empty() ? given : joined(given, failure.relativePath),
            failure.error));
    }
    for (LibrarySearch::Found& found : search.takeFound()) {
        Input input;
        input.path = joined(given, LibrarySearch::joinedNames(found.components));
        input.root = root;
        input.components = std::move(found.components);
        input.identity = found.identity;
        inputs.libraries.push_back(std::move(input));
    }
}

// Opens a library the search found, again from the search's own folder: each
// name without following a link, on the folder's own mount, and it must be
// the very directory the search saw. Invalid when anything changed.
platform::UniqueFd reopenFound(const Input& input)
{
    platform::UniqueFd dir(::fcntl(input.root->fd.get(), F_DUPFD_CLOEXEC, 0));
    for (const std::string& name : input.components) {
        if (!dir) {
            return {};
        }
        dir = platform::openDirectoryAt(dir.get(), name.c_str());
        const std::optional<platform::FileIdentity> id =
            dir ? platform::identityOf(dir.get()) : std::nullopt;
        if (!id || platform::onOtherMount(*id, input.root->identity)) {
            return {};
        }
    }
    const std::optional<platform::FileIdentity> id =
        dir ? platform::identityOf(dir.get()) : std::nullopt;
    if (!id || !id->sameAs(input.identity)) {
        return {};
    }
    return dir;
}

// True when the open directory `fd` is one of `bounds` or lies inside one.
bool insideBounds(int fd, const std::vector<platform::FileIdentity>& bounds)
{
    const std::optional<platform::FileIdentity> self = platform::identityOf(fd);
    const auto ancestors = platform::ancestorsOf(fd);
    if (!self || !ancestors) {
        return false;
    }
    const auto inBounds = [&bounds](const platform::FileIdentity& id) {
        return std::any_of(bounds.begin(), bounds.end(), [&id](const platform::FileIdentity& b) {
            return platform::sameDirectory(id, b);
        });
    };
    return inBounds(*self) || std::any_of(ancestors->begin(), ancestors->end(), inBounds);
}

} // namespace

std::filesystem::path accessPath(int fd, const std::filesystem::path& fallback)
{
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
    return ::access(viaProc.c_str(), F_OK) == 0 ? std::filesystem::path(viaProc) : fallback;
}

Inputs collectInputs(const std::vector<std::string>& paths, bool recursive,
                     const platform::WalkControl& walk)
{
    Inputs inputs;
    for (const std::string& given : paths) {
        if (!recursive) {
            inputs.libraries.push_back(Input{given, {}, {}, {}});
            continue;
        }
        // The place the user named: links in its path are followed.
        auto root = std::make_shared<SearchRoot>();
        root->fd = platform::openDirectoryPath(given);
        const std::optional<platform::FileIdentity> id =
            root->fd ? platform::identityOf(root->fd.get()) : std::nullopt;
        if (id) {
            root->identity = *id;
            inputs.bounds.push_back(*id);
        }
        if (!id || analysis::hasLibraryExtension(given)) {
            // The intake says what is wrong with it, if anything.
            inputs.libraries.push_back(Input{given, {}, {}, {}});
            continue;
        }
        searchFolder(given, root, walk, inputs);
    }
    return inputs;
}

model::FolderSelection refinedSelection(model::EditingPreset preset,
                                        const std::vector<model::FoundFolder>& folders,
                                        const std::optional<std::set<std::string>>& only,
                                        const std::set<std::string>& except)
{
    const auto isOfKind = [](const model::FoundFolder& folder, const std::set<std::string>& kinds) {
        return std::any_of(kinds.begin(), kinds.end(), [&](const std::string& kind) {
            return model::namesEqual(folder.name, kind);
        });
    };
    // --only names what to delete, whatever the preset; --except takes
    // kinds out of whichever selection that is.
    model::FolderSelection selection;
    if (only) {
        for (const model::FoundFolder& folder : folders) {
            if (isOfKind(folder, *only)) {
                selection.insert(folder.url);
            }
        }
    } else {
        selection = model::presetSelection(preset, folders);
    }
    for (const model::FoundFolder& folder : folders) {
        if (isOfKind(folder, except)) {
            selection.erase(folder.url);
        }
    }
    return selection;
}

TakenIn takeIn(const Input& input, const CommandLine& options,
               const analysis::MachineAnalysis& machine, const platform::WalkControl& walk,
               ProgressLine& progress, BatchPosition position, BatchScope& scope)
{
    using Kind = analysis::IntakeError::Kind;
    const auto refuse = [&input](const fs::path& path, std::string message) {
        return TakenIn{std::nullopt, InputError{input.path, absolutePath(path), std::move(message)},
                       false};
    };
    fs::path url;
    bool isFromAlias = false;
    platform::UniqueFd bundle; // from here on, the library is this directory
    if (input.root) {
        // Found by the search: never resolved as an alias, and reached again
        // from the searched folder only if it is still what the search saw.
        url = absolutePath(input.path);
        bundle = reopenFound(input);
        if (!bundle) {
            return refuse(url, say("« %1 » a changé depuis la recherche : elle n'a pas été "
                                   "traitée.",
                                   {analysis::bundleDisplayName(url)}));
        }
        if (machine.itemFlags()->isUserImmutable(accessPath(bundle.get(), url))) {
            return refuse(url, intakeMessage({Kind::locked, analysis::bundleDisplayName(url)}));
        }
    } else {
        const auto item =
            analysis::checkLibraryItem(input.path, *machine.aliases(), *machine.itemFlags());
        if (!item) {
            return refuse(input.path, intakeMessage(item.error()));
        }
        url = item->url;
        isFromAlias = item->isFromAlias;
        bundle = platform::openDirectoryPath(url.string());
        if (!bundle) {
            return refuse(url, intakeMessage({Kind::notALibrary, item->displayName}));
        }
    }
    const std::string name = analysis::bundleDisplayName(url);
    if (const auto cloud = machine.cloud()->itemState(accessPath(bundle.get(), url));
        cloud && cloud->isUbiquitous && !cloud->isCurrent) {
        return refuse(url, say("« %1 » n'est pas encore téléchargée depuis le nuage. "
                               "Téléchargez-la avant de continuer.",
                               {name}));
    }
    if (!analysis::hasLibraryFiles(accessPath(bundle.get(), url))) {
        return refuse(url, intakeMessage({Kind::notALibrary, name}));
    }
    AnalysedLibrary library;
    library.input = input.path;
    library.preset = options.preset;
    const analysis::BackupCheck backup =
        analysis::checkBackup(accessPath(bundle.get(), url), *machine.bookmarks());
    if (backup.isBackup) {
        if (!backup.original) {
            return refuse(url, intakeMessage({Kind::backupWithoutOriginal, name}));
        }
        if (!options.original && input.root) {
            // Met by a search: listed as what it is, once, with its size.
            const std::optional<platform::FileIdentity> id = platform::identityOf(bundle.get());
            if (id && !scope.seen.emplace(id->device, id->inode).second) {
                return TakenIn{std::nullopt, std::nullopt, true, std::nullopt};
            }
            FoundBackup found;
            found.input = input.path;
            found.path = url;
            found.original = absolutePath(*backup.original);
            found.size = analysis::folderSize(std::move(bundle), walk);
            return TakenIn{std::nullopt, std::nullopt, false, std::move(found)};
        }
        if (!options.original) {
            return refuse(url, say("« %1 » est une sauvegarde de la bibliothèque %2 ; "
                                   "--original traite cette bibliothèque à sa place.",
                                   {name, absolutePath(*backup.original).string()}));
        }
        library.backup = url;
        url = *backup.original;
        bundle = platform::openDirectoryPath(url.string());
        if (!bundle) {
            return refuse(library.backup.value(),
                          intakeMessage({Kind::backupWithoutOriginal, name}));
        }
        // A backup record is a file anyone may plant: under a search, the
        // original it names is taken only inside the folders searched.
        if (scope.bounds != nullptr && !insideBounds(bundle.get(), *scope.bounds)) {
            return refuse(url, say("« %1 » est hors des dossiers parcourus : elle n'a pas été "
                                   "traitée.",
                                   {analysis::bundleDisplayName(url)}));
        }
    }
    // One library, one (device, inode), whatever the paths that led to it.
    const std::optional<platform::FileIdentity> identity = platform::identityOf(bundle.get());
    if (identity && !scope.seen.emplace(identity->device, identity->inode).second) {
        return TakenIn{std::nullopt, std::nullopt, true};
    }
    library.missingCache =
        analysis::missingExternalCache(accessPath(bundle.get(), url), *machine.bookmarks());

    // The analysis runs on this thread; the ticker redraws the line from its
    // own with the walk's counters, so they move between the analysis's texts.
    platform::WalkProgress counters;
    platform::WalkControl control = walk;
    control.progress = &counters;
    const std::string shownName = shown(analysis::bundleDisplayName(url));
    std::mutex statusMutex;
    std::string status = statusText({std::string(analysis::status::totalSize), {}});
    const auto line = [&] {
        std::string step;
        {
            const std::lock_guard lock(statusMutex);
            step = status;
        }
        const std::uint64_t files = counters.files.load(std::memory_order_relaxed);
        if (files > 0) {
            // The counters first: a long step is what the width cuts.
            step =
                i18n::fillPlural("%1 fichiers analysés, %2 — %3", static_cast<std::int64_t>(files),
                                 {formatBytes(static_cast<std::int64_t>(
                                      counters.bytes.load(std::memory_order_relaxed))),
                                  step});
        }
        return progressText(position, shownName, step);
    };
    progress.show(line());
    analysis::ProgressSink sink;
    if (progress.enabled()) {
        sink = [&](const analysis::StatusText& next) {
            {
                const std::lock_guard lock(statusMutex);
                status = shown(statusText(next));
            }
            progress.show(line());
        };
    }
    {
        const ProgressTicker ticker(progress, line);
        library.info =
            analysis::analyzeBundle(platform::UniqueFd(::fcntl(bundle.get(), F_DUPFD_CLOEXEC, 0)),
                                    url, isFromAlias, machine.services(control), sink);
    }
    progress.clear();
    library.selection =
        refinedSelection(options.preset, library.info.foundFolders, options.only, options.except);
    if (scope.bounds != nullptr) {
        // Folders outside the library (its backups) are left alone when
        // they lie outside the folders searched.
        for (const model::FoundFolder& folder : library.info.foundFolders) {
            const platform::UniqueFd dir = platform::openDirectoryPath(folder.url.string());
            if (library.selection.count(folder.url) != 0 &&
                (!dir || !insideBounds(dir.get(), *scope.bounds))) {
                library.selection.erase(folder.url);
                library.outsideBounds.push_back(folder.url);
            }
        }
    }
    library.bundle = std::make_shared<const platform::UniqueFd>(std::move(bundle));
    return {std::move(library), std::nullopt, false};
}

BatchErrors::BatchErrors(std::ostream& err, bool json, BatchSummary& summary)
    : m_err(err), m_json(json), m_summary(summary)
{}

void BatchErrors::fail(const InputError& error)
{
    m_entries.push_back(errorJson(error.input, error.path, error.message));
    if (!m_json) {
        m_err << errorLine(error) << "\n";
    }
    ++m_summary.failed;
}

void BatchErrors::failBatch(const std::string& message)
{
    m_entries.push_back(errorJson(std::nullopt, std::nullopt, message));
    if (!m_json) {
        m_err << "vellico-cli: " << message << "\n";
    }
}

std::string progressText(BatchPosition position, const std::string& name,
                         const std::string& activity)
{
    // A long name gives way first: what moves (counters, step) stays in sight.
    const std::size_t nameColumns = std::max<std::size_t>(12, terminalColumns() / 3);
    return say("[%1/%2] %3 : %4", {i18n::formatCount(static_cast<std::int64_t>(position.index)),
                                   i18n::formatCount(static_cast<std::int64_t>(position.count)),
                                   fitted(name, nameColumns), activity});
}

void printWarnings(std::ostream& err, const AnalysedLibrary& library, bool quiet)
{
    if (library.missingCache && !quiet) {
        err << "vellico-cli: " << shown(library.input) << ": "
            << shown(missingCacheMessage(*library.missingCache)) << "\n";
    }
    if (!quiet) {
        for (const std::filesystem::path& path : library.outsideBounds) {
            err << "vellico-cli: " << shown(library.input) << ": "
                << shown(say(cleanup::messageKey(cleanup::RemovalProblem::outsideBounds),
                             {path.string()}))
                << "\n";
        }
        printNotices(err, library);
    }
    printUnreadable(err, library);
}

InputError withSearchHint(InputError error, bool recursive)
{
    struct stat st {};
    if (!recursive && !analysis::hasLibraryExtension(error.input) &&
        ::stat(error.input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error.message += " " + say("C'est un dossier : l'option -r y cherche les bibliothèques.");
    }
    return error;
}

std::string backupLine(const FoundBackup& backup)
{
    return say("Sauvegarde %1 de la bibliothèque %2 : %3 (non traitée ; --original traite "
               "l'originale)",
               {shortPath(backup.path), shortPath(backup.original), formatBytes(backup.size)});
}

nlohmann::ordered_json backupJson(const FoundBackup& backup)
{
    nlohmann::ordered_json json;
    putPath(json, "input", backup.input);
    putPath(json, "path", backup.path);
    putPath(json, "originalPath", backup.original);
    json["size"] = backup.size;
    return json;
}

std::string errorLine(const InputError& error)
{
    return "vellico-cli: " + shown(error.input) + ": " + shown(error.message);
}

} // namespace vellico::cli
