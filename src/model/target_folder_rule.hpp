#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::model {

// The top-level folder the editor keeps inside a library for its own
// generated data. No public source confirms the editor's literal; this is the
// only place that names it.
inline constexpr std::string_view rootDataFolderName = "flexo.apple.com";

// Display name given to every backup folder found outside the library.
inline constexpr std::string_view backupsFolderName = "Final Cut Backups";

enum class FolderDepth {
    root,    // a direct child of the library bundle
    inEvent, // a direct child of an event folder, itself a direct child of the bundle
};

// One cleanup rule: a folder the editor rebuilds on demand, where it sits, and
// its help text. `tooltip` is the localisation key of that help text (the
// folder name, " — aide"); the layers that show text resolve it, the core
// never holds user text.
struct TargetFolderRule {
    std::string name;
    FolderDepth depth = FolderDepth::inEvent;
    bool checkedByDefault = true;
    std::string tooltip;
};

// Turns a localisation key into display text. The GUI resolves keys through
// its translation catalogue, the CLI through its own French table.
using TextLookup = std::function<std::string(std::string_view key)>;

// The six rules, built once (thread-safe) and never changed. Names are unique.
const std::vector<TargetFolderRule>& targetFolderRules();

// Help text for a folder name: the backups help for "Final Cut Backups", the
// first rule's help for a rule name, nothing for any other name or when the
// looked-up text is empty.
std::optional<std::string> tooltipText(std::string_view folderName, const TextLookup& lookup);

// The localisation key of a folder name's help text, as above, without lookup.
std::optional<std::string> tooltipKey(std::string_view folderName);

} // namespace vellico::model
