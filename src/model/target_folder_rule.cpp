#include "model/target_folder_rule.hpp"

#include "model/names.hpp"

namespace vellico::model {

namespace {

std::string helpKey(std::string_view name)
{
    return std::string(name) + " \u2014 aide";
}

} // namespace

const std::vector<TargetFolderRule>& targetFolderRules()
{
    static const std::vector<TargetFolderRule> rules = [] {
        auto rule = [](std::string_view name, FolderDepth depth, bool checked) {
            return TargetFolderRule{std::string(name), depth, checked, helpKey(name)};
        };
        return std::vector<TargetFolderRule>{
            rule("Render Files", FolderDepth::inEvent, true),
            rule("Shared Items", FolderDepth::inEvent, true),
            rule("Analysis Files", FolderDepth::inEvent, true),
            rule("Transcoded Media", FolderDepth::inEvent, true),
            rule(rootDataFolderName, FolderDepth::root, true),
            rule("VideoSegmentationFiles", FolderDepth::root, false),
        };
    }();
    return rules;
}

std::optional<std::string> tooltipKey(std::string_view folderName)
{
    if (namesEqual(folderName, backupsFolderName)) {
        return helpKey(backupsFolderName);
    }
    for (const TargetFolderRule& rule : targetFolderRules()) {
        if (namesEqual(rule.name, folderName)) {
            if (rule.tooltip.empty()) {
                return std::nullopt;
            }
            return rule.tooltip;
        }
    }
    return std::nullopt;
}

std::optional<std::string> tooltipText(std::string_view folderName, const TextLookup& lookup)
{
    const std::optional<std::string> key = tooltipKey(folderName);
    if (!key) {
        return std::nullopt;
    }
    std::string text = lookup ? lookup(*key) : *key;
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace vellico::model
