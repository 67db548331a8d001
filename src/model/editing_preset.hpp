#pragma once

#include "model/found_folder.hpp"

#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

namespace vellico::model {

// The two editing presets; the raw values are stored and shown by pickers in
// this order.
enum class EditingPreset : int {
    inProgress = 0, // "Montage en cours": render files, shared items, the root data folder
    done = 1,       // "Montage terminé": everything but the video segmentation files
};

inline constexpr EditingPreset allEditingPresets[] = {EditingPreset::inProgress,
                                                      EditingPreset::done};

// None for a raw value that names no preset.
std::optional<EditingPreset> editingPresetFromRaw(int raw);

// Label key shown by the preset picker ("Montage en cours", "Montage terminé").
std::string_view labelKey(EditingPreset preset);

// The selection a preset makes among the found folders: the set of their
// urls. `inProgress` takes the folders named "Render Files", "Shared Items"
// and the root data folder; `done` takes every folder except
// "VideoSegmentationFiles", backups included. Names compare as folder names.
using FolderSelection = std::set<std::filesystem::path>;
FolderSelection presetSelection(EditingPreset preset, std::span<const FoundFolder> folders);

} // namespace vellico::model
