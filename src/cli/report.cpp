#include "cli/report.hpp"

#include "analysis/folder_size.hpp"
#include "cli/terminal.hpp"
#include "cli/texts.hpp"
#include "i18n/system_error.hpp"
#include "i18n/translations.hpp"
#include "model/base64.hpp"
#include "model/folder_group.hpp"
#include "model/names.hpp"
#include "model/terminal_text.hpp"
#include "model/utf8.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vellico::cli {

namespace {

// Why a folder could not be read, in the user's language.
std::string unreadableReason(const model::UnreadableFolder& folder)
{
    return folder.error != 0 ? i18n::systemErrorText(folder.error)
                             : say(analysis::movedWhileMeasuredKey);
}

// SGR sequences: green for what is selected, yellow for a group selected in
// part, cyan for sizes.
constexpr const char* green = "\033[32m";
constexpr const char* yellow = "\033[33m";
constexpr const char* cyan = "\033[36m";
constexpr const char* plain = "\033[0m";

std::string painted(const std::string& text, const char* colour, const ReportStyle& style)
{
    return style.colour ? colour + text + plain : text;
}

std::string mark(model::CheckState state, const ReportStyle& style)
{
    switch (state) {
    case model::CheckState::all:
        return painted("[x]", green, style);
    case model::CheckState::partial:
        return painted("[-]", yellow, style);
    case model::CheckState::none:
        break;
    }
    return "[ ]";
}

// A size as its number and its unit, the number in the language's digits.
struct SizeParts {
    std::string number;
    std::string unit;
};

SizeParts sizeParts(std::int64_t bytes, SizeUnits units)
{
    const model::ByteUnits names = i18n::byteUnits();
    bytes = std::max<std::int64_t>(bytes, 0);
    const double base = units == SizeUnits::binary ? 1024.0 : 1000.0;
    if (units == SizeUnits::bytes || static_cast<double>(bytes) < base) {
        return {std::to_string(bytes), bytes == 1 ? names.byte : names.bytes};
    }
    // As the window writes sizes: no decimal for kilobytes, one for
    // megabytes, two from gigabytes on, trailing zeros dropped.
    const std::array<std::pair<int, std::string>, 4> steps{{
        {0, units == SizeUnits::binary ? lookup("Kio") : names.kilo},
        {1, units == SizeUnits::binary ? lookup("Mio") : names.mega},
        {2, units == SizeUnits::binary ? lookup("Gio") : names.giga},
        {2, units == SizeUnits::binary ? lookup("Tio") : names.tera},
    }};
    double scaled = static_cast<double>(bytes);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        scaled /= base;
        const double factor = std::pow(10.0, steps[i].first);
        const double rounded = std::round(scaled * factor) / factor;
        if (rounded < base || i + 1 == steps.size()) {
            char text[64];
            std::snprintf(text, sizeof text, "%.*f", steps[i].first, rounded);
            std::string number(text);
            if (const auto dot = number.find('.'); dot != std::string::npos) {
                while (number.back() == '0') {
                    number.pop_back();
                }
                if (number.back() == '.') {
                    number.pop_back();
                } else {
                    number[dot] = names.decimalSeparator;
                }
            }
            return {number, steps[i].second};
        }
    }
    return {"0", names.bytes}; // not reached
}

// Widths of a size column: the integer part (up to 1023, or a byte count
// of a dozen digits) and the fraction with its separator (",57").
constexpr std::size_t integerColumns = 4;
constexpr std::size_t byteColumns = 13;
constexpr std::size_t fractionColumns = 3;

constexpr std::size_t nameColumn = 52;
constexpr std::size_t unreadableShown = 5;

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
    if (!library.info.unreadableFolders.empty()) {
        ++incomplete;
    }
    totalSize += library.info.totalSize;
    selectedSize += model::selectedSize(&library.info, library.selection);
}

ReportStyle reportStyle(const CommandLine& options, bool outIsTerminal)
{
    ReportStyle style;
    style.units = options.units;
    style.sort = options.sort;
    style.quiet = options.quiet;
    style.verbose = options.verbose;
    const char* noColour = std::getenv("NO_COLOR");
    const bool noColourSet = noColour != nullptr && *noColour != '\0';
    switch (options.colour) {
    case ColourChoice::always:
        style.colour = true;
        break;
    case ColourChoice::never:
        style.colour = false;
        break;
    case ColourChoice::automatic: {
        // A terminal that draws no colour says so with TERM=dumb.
        const char* term = std::getenv("TERM");
        const bool drawsColour = term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
        style.colour = outIsTerminal && drawsColour && !noColourSet;
        break;
    }
    }
    return style;
}

std::string sizeText(std::int64_t bytes, const ReportStyle& style)
{
    const SizeParts parts = sizeParts(bytes, style.units);
    return parts.number + " " + parts.unit;
}

std::string sizeColumn(std::int64_t bytes, const ReportStyle& style)
{
    const SizeParts parts = sizeParts(bytes, style.units);
    const char separator = i18n::byteUnits().decimalSeparator;
    const std::size_t split = std::min(parts.number.find(separator), parts.number.size());
    const std::string integer = parts.number.substr(0, split);
    const std::string fraction = parts.number.substr(split);
    const std::size_t width = style.units == SizeUnits::bytes ? byteColumns : integerColumns;
    std::string cell(integer.size() < width ? width - integer.size() : 0, ' ');
    cell += integer + fraction;
    if (style.units != SizeUnits::bytes) {
        cell.append(fraction.size() < fractionColumns ? fractionColumns - fraction.size() : 0, ' ');
    }
    return painted(cell + " " + parts.unit, cyan, style);
}

std::string shortPath(const std::filesystem::path& path)
{
    std::string full = absolutePath(path).string();
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        std::string prefix = home;
        while (prefix.size() > 1 && prefix.back() == '/') {
            prefix.pop_back();
        }
        if (prefix != "/" && (full == prefix || full.starts_with(prefix + "/"))) {
            full = "~" + full.substr(prefix.size());
        }
    }
    return shown(full);
}

std::string folderLabel(const model::FoundFolder& folder)
{
    if (model::namesEqual(folder.name, model::backupsFolderName)) {
        return shortPath(folder.url);
    }
    return shown(model::displayName(folder));
}

bool comesBefore(const AnalysedLibrary& a, const AnalysedLibrary& b, SortOrder sort)
{
    if (sort == SortOrder::size && a.info.totalSize != b.info.totalSize) {
        return a.info.totalSize > b.info.totalSize;
    }
    return std::strcoll(a.info.name.c_str(), b.info.name.c_str()) < 0;
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

void printLibrary(std::ostream& out, const AnalysedLibrary& library, const ReportStyle& style)
{
    const model::BundleInfo& info = library.info;
    out << say("Bibliothèque « %1 »", {shown(info.name)}) << "\n";
    out << "  " << shownPath(info.url) << "\n";
    if (library.backup) {
        out << "  " << say("Originale de la sauvegarde %1", {shownPath(*library.backup)}) << "\n";
    }
    out << "  "
        << say("Taille de la bibliothèque (éléments masqués non comptés) : %1",
               {sizeText(info.totalSize, style)})
        << "\n";
    if (!info.unreadableFolders.empty()) {
        out << "  "
            << say("Dossiers illisibles : %1 (comptés pour zéro)",
                   {count(info.unreadableFolders.size())})
            << "\n";
    }
    if (info.cacheURL) {
        out << "  "
            << say("Cache externe, hors de la bibliothèque : %1 (%2)",
                   {shownPath(*info.cacheURL), sizeText(info.cacheTotalSize, style)})
            << "\n";
    }
    out << "  " << say("Préréglage : %1", {lookup(model::labelKey(library.preset))}) << "\n\n";

    if (info.foundFolders.empty()) {
        out << "  " << say("Aucun fichier généré à supprimer.") << "\n";
        return;
    }
    struct Row {
        model::FolderGroup group;
        std::string heading;
        std::int64_t size = 0;
    };
    std::vector<Row> rows;
    for (model::FolderGroup& group : model::groups(info.foundFolders)) {
        Row row;
        for (const model::FoundFolder& folder : group.folders) {
            row.size += folder.size;
        }
        row.heading = group.labelIsKey ? lookup(group.label) : shown(group.label);
        std::stable_sort(group.folders.begin(), group.folders.end(),
                         [&style](const model::FoundFolder& a, const model::FoundFolder& b) {
                             if (style.sort == SortOrder::size && a.size != b.size) {
                                 return a.size > b.size;
                             }
                             return std::strcoll(folderLabel(a).c_str(), folderLabel(b).c_str()) <
                                    0;
                         });
        row.group = std::move(group);
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [&style](const Row& a, const Row& b) {
        if (style.sort == SortOrder::size && a.size != b.size) {
            return a.size > b.size;
        }
        return std::strcoll(a.heading.c_str(), b.heading.c_str()) < 0;
    });
    for (const Row& row : rows) {
        std::string heading = row.heading;
        if (row.group.folders.size() >= 2) {
            heading += " (" + count(row.group.folders.size()) + ")";
        }
        out << "  " << mark(model::checkState(row.group, library.selection), style) << " "
            << padded(heading, nameColumn) << sizeColumn(row.size, style) << "\n";
        for (const model::FoundFolder& folder : row.group.folders) {
            const bool selected = library.selection.count(folder.url) != 0;
            out << "      "
                << mark(selected ? model::CheckState::all : model::CheckState::none, style) << " "
                << padded(folderLabel(folder), nameColumn - 4) << sizeColumn(folder.size, style)
                << "\n";
            if (style.verbose) {
                out << "          " << shortPath(folder.url) << "\n";
            }
        }
    }
    out << "\n  "
        << say("Sélectionné pour la suppression : %1",
               {sizeText(model::selectedSize(&info, library.selection), style)})
        << "\n";
}

void printUnreadable(std::ostream& err, const AnalysedLibrary& library)
{
    const auto& paths = library.info.unreadableFolders;
    if (paths.empty()) {
        return;
    }
    err << "vellico-cli: " << shown(library.input) << ": "
        << i18n::fillPlural("%1 dossiers illisibles, comptés pour zéro ; la taille est "
                            "incomplète :",
                            static_cast<std::int64_t>(paths.size()))
        << "\n";
    for (std::size_t i = 0; i < paths.size() && i < unreadableShown; ++i) {
        err << "  " << shownPath(paths[i].path) << " (" << unreadableReason(paths[i]) << ")\n";
    }
    if (paths.size() > unreadableShown) {
        err << "  "
            << i18n::fillPlural("… et %1 autres",
                                static_cast<std::int64_t>(paths.size() - unreadableShown))
            << "\n";
    }
}

void printSummary(std::ostream& out, const BatchSummary& summary, SummaryEnd end,
                  const ReportStyle& style)
{
    if (summary.libraries == 0 && summary.failed > 0) {
        return;
    }
    out << i18n::fillPlural("Résumé : %1 bibliothèques analysées, %2 en échec",
                            static_cast<std::int64_t>(summary.libraries), {count(summary.failed)})
        << "\n";
    if (summary.incomplete > 0) {
        out << "  " << say("Lues en partie seulement : %1", {count(summary.incomplete)}) << "\n";
    }
    out << "  "
        << say("Taille des bibliothèques (éléments masqués non comptés) : %1",
               {sizeText(summary.totalSize, style)})
        << "\n";
    out << "  "
        << say("Sélectionné pour la suppression : %1", {sizeText(summary.selectedSize, style)})
        << "\n";
    switch (end) {
    case SummaryEnd::freed:
        out << "  " << say("Libéré : %1", {sizeText(summary.freedSpace, style)}) << "\n";
        break;
    case SummaryEnd::wouldFree:
        out << "  "
            << say("Serait libéré (--dry-run, rien n'a été supprimé) : %1",
                   {sizeText(summary.selectedSize, style)})
            << "\n";
        break;
    case SummaryEnd::none:
        break;
    }
}

void putPath(nlohmann::ordered_json& json, const std::string& key,
             const std::filesystem::path& path)
{
    const std::string& bytes = path.native();
    json[key] = bytes;
    if (!model::isValidUtf8(bytes)) {
        json[key + "Bytes"] = model::encodeBase64(bytes);
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
    json["incomplete"] = !info.unreadableFolders.empty();
    nlohmann::ordered_json unreadable = nlohmann::ordered_json::array();
    nlohmann::ordered_json unreadableBytes = nlohmann::ordered_json::array();
    nlohmann::ordered_json reasons = nlohmann::ordered_json::array();
    bool anyRaw = false;
    for (const model::UnreadableFolder& folder : info.unreadableFolders) {
        nlohmann::ordered_json entry;
        putPath(entry, "p", folder.path);
        unreadable.push_back(entry["p"]);
        anyRaw = anyRaw || entry.contains("pBytes");
        unreadableBytes.push_back(entry.contains("pBytes") ? entry["pBytes"] : nullptr);
        reasons.push_back(unreadableReason(folder));
    }
    json["unreadable"] = std::move(unreadable);
    if (anyRaw) {
        json["unreadableBytes"] = std::move(unreadableBytes);
    }
    json["unreadableReasons"] = std::move(reasons);
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
