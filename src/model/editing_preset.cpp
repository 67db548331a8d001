#include "model/editing_preset.hpp"

#include "model/names.hpp"
#include "model/target_folder_rule.hpp"

#include <algorithm>
#include <vector>

namespace vellico::model {

namespace {

// Built once on first use; compared as folder names (NFC).
const std::vector<std::string>& inProgressFolderNames()
{
    static const std::vector<std::string> names{"Render Files", "Shared Items",
                                                std::string(rootDataFolderName)};
    return names;
}

const std::vector<std::string>& doneExcludedFolderNames()
{
    static const std::vector<std::string> names{"VideoSegmentationFiles"};
    return names;
}

bool contains(const std::vector<std::string>& names, std::string_view name)
{
    const std::string normal = normalizedName(name);
    return std::find(names.begin(), names.end(), normal) != names.end();
}

} // namespace

std::optional<EditingPreset> editingPresetFromRaw(int raw)
{
    switch (raw) {
    case 0:
        return EditingPreset::inProgress;
    case 1:
        return EditingPreset::done;
    default:
        return std::nullopt;
    }
}

std::string_view labelKey(EditingPreset preset)
{
    return preset == EditingPreset::inProgress ? "Montage en cours" : "Montage terminé";
}

FolderSelection presetSelection(EditingPreset preset, std::span<const FoundFolder> folders)
{
    FolderSelection selection;
    for (const FoundFolder& folder : folders) {
        const bool selected = preset == EditingPreset::inProgress
                                  ? contains(inProgressFolderNames(), folder.name)
                                  : !contains(doneExcludedFolderNames(), folder.name);
        if (selected) {
            selection.insert(folder.url);
        }
    }
    return selection;
}

} // namespace vellico::model
