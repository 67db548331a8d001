#include "cli/report.hpp"

#include "cli/terminal.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/folder_group.hpp"
#include "model/terminal_text.hpp"
#include "model/utf8.hpp"

#include <resolv.h>
#include <utf8proc.h>

namespace vellico::cli {

namespace {

const char* mark(model::CheckState state)
{
    switch (state) {
    case model::CheckState::all:
        return "[x]";
    case model::CheckState::partial:
        return "[-]";
    case model::CheckState::none:
        break;
    }
    return "[ ]";
}

constexpr std::size_t nameColumn = 52;
constexpr std::size_t unreadableShown = 5;

// glibc's resolver library encodes base64 too, and costs next to nothing to
// load, where OpenSSL's libcrypto added 2 ms to every start of the tool.
std::string base64(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = b64_ntop(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                           out.data(), out.size());
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

std::string shownPath(const std::filesystem::path& path)
{
    return shown(absolutePath(path).string());
}

std::string count(std::size_t n)
{
    return i18n::formatCount(static_cast<std::int64_t>(n));
}

const char* noticeKind(model::AnalysisNotice::Kind kind)
{
    switch (kind) {
    case model::AnalysisNotice::Kind::mountPoint:
        return "mountPoint";
    case model::AnalysisNotice::Kind::holdsLibrary:
        return "holdsLibrary";
    case model::AnalysisNotice::Kind::unsafeName:
        break;
    }
    return "unsafeName";
}

// One entry of a library's "warnings": what kind of thing, the path to look
// at, the settings key and value concerned (null when none), the message.
nlohmann::ordered_json warningJson(const char* kind, const std::filesystem::path& path,
                                   const std::optional<std::string>& key,
                                   const std::optional<std::string>& value,
                                   const std::string& message)
{
    nlohmann::ordered_json json;
    json["kind"] = kind;
    putPath(json, "path", absolutePath(path));
    json["key"] = nullptr;
    if (key) {
        json["key"] = *key;
    }
    json["value"] = nullptr;
    if (value) {
        putPath(json, "value", *value);
    }
    json["message"] = message;
    return json;
}

} // namespace

void BatchSummary::add(const AnalysedLibrary& library)
{
    ++libraries;
    if (!library.info.unreadablePaths.empty()) {
        ++incomplete;
    }
    totalSize += library.info.totalSize;
    selectedSize += model::selectedSize(&library.info, library.selection);
}

std::filesystem::path absolutePath(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return (ec ? path : full).lexically_normal();
}

std::string presetKey(model::EditingPreset preset)
{
    return preset == model::EditingPreset::inProgress ? "inProgress" : "done";
}

void printLibrary(std::ostream& out, const AnalysedLibrary& library)
{
    const model::BundleInfo& info = library.info;
    out << say("Bibliothèque « %1 »", {shown(info.name)}) << "\n";
    out << "  " << shownPath(info.url) << "\n";
    if (library.backup) {
        out << "  " << say("Originale de la sauvegarde %1", {shownPath(*library.backup)}) << "\n";
    }
    out << "  " << say("Taille totale : %1", {formatBytes(info.totalSize)}) << "\n";
    if (!info.unreadablePaths.empty()) {
        out << "  "
            << say("Dossiers illisibles : %1 (comptés pour zéro)",
                   {count(info.unreadablePaths.size())})
            << "\n";
    }
    if (info.cacheURL) {
        out << "  "
            << say("Cache externe : %1 (%2)",
                   {shownPath(*info.cacheURL), formatBytes(info.cacheTotalSize)})
            << "\n";
    }
    out << "  " << say("Préréglage : %1", {lookup(model::labelKey(library.preset))}) << "\n\n";

    if (info.foundFolders.empty()) {
        out << "  " << say("Aucun fichier généré à supprimer.") << "\n";
        return;
    }
    for (const model::FolderGroup& group : model::groups(info.foundFolders)) {
        std::int64_t groupSize = 0;
        for (const model::FoundFolder& folder : group.folders) {
            groupSize += folder.size;
        }
        std::string heading = group.labelIsKey ? lookup(group.label) : shown(group.label);
        if (group.folders.size() >= 2) {
            heading += " (" + count(group.folders.size()) + ")";
        }
        out << "  " << mark(model::checkState(group, library.selection)) << " "
            << padded(heading, nameColumn) << formatBytes(groupSize) << "\n";
        for (const model::FoundFolder& folder : group.folders) {
            const bool selected = library.selection.count(folder.url) != 0;
            out << "      " << (selected ? "[x]" : "[ ]") << " "
                << padded(shown(model::displayName(folder)), nameColumn - 4)
                << formatBytes(folder.size) << "\n";
        }
    }
    out << "\n  "
        << say("Sélection : %1", {formatBytes(model::selectedSize(&info, library.selection))})
        << "\n";
}

void printUnreadable(std::ostream& err, const AnalysedLibrary& library)
{
    const auto& paths = library.info.unreadablePaths;
    if (paths.empty()) {
        return;
    }
    err << "vellico-cli: " << shown(library.input) << ": "
        << i18n::fillPlural("%1 dossiers illisibles, comptés pour zéro ; la taille est "
                            "incomplète :",
                            static_cast<std::int64_t>(paths.size()))
        << "\n";
    for (std::size_t i = 0; i < paths.size() && i < unreadableShown; ++i) {
        err << "  " << shownPath(paths[i]) << "\n";
    }
    if (paths.size() > unreadableShown) {
        err << "  "
            << i18n::fillPlural("… et %1 autres",
                                static_cast<std::int64_t>(paths.size() - unreadableShown))
            << "\n";
    }
}

void printSummary(std::ostream& out, const BatchSummary& summary, bool clean)
{
    out << i18n::fillPlural("Résumé : %1 bibliothèques analysées, %2 en échec",
                            static_cast<std::int64_t>(summary.libraries), {count(summary.failed)})
        << "\n";
    if (summary.incomplete > 0) {
        out << "  " << say("Lues en partie seulement : %1", {count(summary.incomplete)}) << "\n";
    }
    out << "  " << say("Taille totale : %1", {formatBytes(summary.totalSize)}) << "\n";
    out << "  " << say("Sélection : %1", {formatBytes(summary.selectedSize)}) << "\n";
    if (clean) {
        out << "  " << say("Libéré : %1", {formatBytes(summary.freedSpace)}) << "\n";
    }
}

void putPath(nlohmann::ordered_json& json, const std::string& key,
             const std::filesystem::path& path)
{
    const std::string& bytes = path.native();
    json[key] = bytes;
    if (!model::isValidUtf8(bytes)) {
        json[key + "Bytes"] = base64(bytes);
    }
}

nlohmann::ordered_json libraryJson(const AnalysedLibrary& library)
{
    const model::BundleInfo& info = library.info;
    nlohmann::ordered_json folders = nlohmann::ordered_json::array();
    for (const model::FoundFolder& folder : info.foundFolders) {
        nlohmann::ordered_json entry;
        putPath(entry, "path", absolutePath(folder.url));
        putPath(entry, "name", folder.name);
        putPath(entry, "parentName", folder.parentName);
        entry["size"] = folder.size;
        entry["selected"] = library.selection.count(folder.url) != 0;
        folders.push_back(std::move(entry));
    }
    nlohmann::ordered_json json;
    putPath(json, "input", library.input);
    putPath(json, "path", absolutePath(info.url));
    putPath(json, "name", info.name);
    json["totalSize"] = info.totalSize;
    json["isFromAlias"] = info.isFromAlias;
    json["backupPath"] = nullptr;
    if (library.backup) {
        putPath(json, "backupPath", absolutePath(*library.backup));
    }
    json["foundFolders"] = std::move(folders);
    json["cachePath"] = nullptr;
    if (info.cacheURL) {
        putPath(json, "cachePath", absolutePath(*info.cacheURL));
    }
    json["cacheTotalSize"] = info.cacheTotalSize;
    json["missingCachePath"] = nullptr;
    if (library.missingCache) {
        putPath(json, "missingCachePath", *library.missingCache);
    }
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    if (library.missingCache) {
        warnings.push_back(warningJson("missingCache", *library.missingCache, std::nullopt,
                                       std::nullopt, missingCacheMessage(*library.missingCache)));
    }
    for (const model::AnalysisNotice& notice : info.notices) {
        if (notice.kind != model::AnalysisNotice::Kind::unsafeName) {
            warnings.push_back(warningJson(noticeKind(notice.kind), notice.subject, std::nullopt,
                                           std::nullopt, noticeMessage(notice)));
        } else {
            warnings.push_back(warningJson(noticeKind(notice.kind), info.url / "Settings.plist",
                                           notice.subject, notice.value, noticeMessage(notice)));
        }
    }
    json["warnings"] = std::move(warnings);
    json["preset"] = presetKey(library.preset);
    json["selectedSize"] = model::selectedSize(&info, library.selection);
    json["incomplete"] = !info.unreadablePaths.empty();
    nlohmann::ordered_json unreadable = nlohmann::ordered_json::array();
    nlohmann::ordered_json unreadableBytes = nlohmann::ordered_json::array();
    bool anyRaw = false;
    for (const std::filesystem::path& path : info.unreadablePaths) {
        nlohmann::ordered_json entry;
        putPath(entry, "p", path);
        unreadable.push_back(entry["p"]);
        anyRaw = anyRaw || entry.contains("pBytes");
        unreadableBytes.push_back(entry.contains("pBytes") ? entry["pBytes"] : nullptr);
    }
    json["unreadable"] = std::move(unreadable);
    if (anyRaw) {
        json["unreadableBytes"] = std::move(unreadableBytes);
    }
    return json;
}

nlohmann::ordered_json summaryJson(const BatchSummary& summary, bool clean)
{
    nlohmann::ordered_json json;
    json["libraries"] = summary.libraries;
    json["failed"] = summary.failed;
    json["incomplete"] = summary.incomplete;
    json["totalSize"] = summary.totalSize;
    json["selectedSize"] = summary.selectedSize;
    if (clean) {
        json["freedSpace"] = summary.freedSpace;
    }
    return json;
}

nlohmann::ordered_json errorJson(const std::optional<std::string>& input,
                                 const std::optional<std::filesystem::path>& path,
                                 const std::string& message)
{
    nlohmann::ordered_json json;
    json["input"] = nullptr;
    if (input) {
        putPath(json, "input", *input);
    }
    json["path"] = nullptr;
    if (path) {
        putPath(json, "path", absolutePath(*path));
    }
    json["message"] = message;
    return json;
}

nlohmann::ordered_json documentJson(const char* command, model::EditingPreset preset)
{
    nlohmann::ordered_json json;
    json["schemaVersion"] = 1;
    json["command"] = command;
    json["preset"] = presetKey(preset);
    return json;
}

void printNotices(std::ostream& err, const AnalysedLibrary& library)
{
    for (const model::AnalysisNotice& notice : library.info.notices) {
        err << "vellico-cli: " << say("avertissement : %1", {shown(noticeMessage(notice))}) << "\n";
    }
}

std::string shown(std::string_view text)
{
    return model::escapedForTerminal(text);
}

std::string dumpJson(const nlohmann::ordered_json& json)
{
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace vellico::cli
