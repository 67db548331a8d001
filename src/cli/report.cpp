#include "cli/report.hpp"

#include "cli/texts.hpp"
#include "model/folder_group.hpp"
#include "model/terminal_text.hpp"

#include <filesystem>

namespace vellico::cli {

namespace {

// Columns a UTF-8 text takes in a terminal, roughly: one per code point.
std::size_t displayWidth(std::string_view text)
{
    std::size_t width = 0;
    for (const unsigned char c : text) {
        width += (c & 0xC0) != 0x80;
    }
    return width;
}

std::string padded(const std::string& text, std::size_t width)
{
    const std::size_t used = displayWidth(text);
    return used >= width ? text + " " : text + std::string(width - used, ' ');
}

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

std::string absolutePath(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return (ec ? path : full).lexically_normal().string();
}

constexpr std::size_t nameColumn = 52;

} // namespace

std::string presetKey(model::EditingPreset preset)
{
    return preset == model::EditingPreset::inProgress ? "inProgress" : "done";
}

void printLibrary(std::ostream& out, const AnalysedLibrary& library)
{
    const model::BundleInfo& info = library.info;
    out << "Bibliothèque « " << shown(info.name) << " »\n";
    out << "  " << shown(absolutePath(info.url)) << "\n";
    out << "  Taille totale : " << formatBytes(info.totalSize) << "\n";
    if (info.cacheURL) {
        out << "  Cache externe : " << shown(info.cacheURL->string()) << " ("
            << formatBytes(info.cacheTotalSize) << ")\n";
    }
    out << "  Préréglage : " << lookup(model::labelKey(library.preset)) << "\n\n";

    if (info.foundFolders.empty()) {
        out << "  Aucun fichier généré à supprimer.\n";
        return;
    }
    for (const model::FolderGroup& group : model::groups(info.foundFolders)) {
        std::int64_t groupSize = 0;
        for (const model::FoundFolder& folder : group.folders) {
            groupSize += folder.size;
        }
        std::string heading = group.labelIsKey ? lookup(group.label) : shown(group.label);
        if (group.folders.size() >= 2) {
            heading += " (" + std::to_string(group.folders.size()) + ")";
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
    out << "\n  Sélection : " << formatBytes(model::selectedSize(&info, library.selection)) << "\n";
}

nlohmann::ordered_json libraryJson(const AnalysedLibrary& library)
{
    const model::BundleInfo& info = library.info;
    nlohmann::ordered_json folders = nlohmann::ordered_json::array();
    for (const model::FoundFolder& folder : info.foundFolders) {
        nlohmann::ordered_json entry;
        entry["path"] = absolutePath(folder.url);
        entry["name"] = folder.name;
        entry["parentName"] = folder.parentName;
        entry["size"] = folder.size;
        entry["selected"] = library.selection.count(folder.url) != 0;
        folders.push_back(std::move(entry));
    }
    nlohmann::ordered_json json;
    json["input"] = library.input;
    json["path"] = absolutePath(info.url);
    json["name"] = info.name;
    json["totalSize"] = info.totalSize;
    json["isFromAlias"] = info.isFromAlias;
    json["foundFolders"] = std::move(folders);
    json["cachePath"] = info.cacheURL ? nlohmann::ordered_json(absolutePath(*info.cacheURL))
                                      : nlohmann::ordered_json();
    json["cacheTotalSize"] = info.cacheTotalSize;
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const model::AnalysisNotice& notice : info.notices) {
        warnings.push_back({{"message", noticeMessage(notice)}});
    }
    json["warnings"] = std::move(warnings);
    json["preset"] = presetKey(library.preset);
    json["selectedSize"] = model::selectedSize(&info, library.selection);
    return json;
}

void printNotices(std::ostream& err, const AnalysedLibrary& library)
{
    for (const model::AnalysisNotice& notice : library.info.notices) {
        err << "vellico-cli: avertissement : " << shown(noticeMessage(notice)) << "\n";
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
