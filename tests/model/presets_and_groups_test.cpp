#include "model/editing_preset.hpp"
#include "model/folder_group.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"

#include <gtest/gtest.h>

namespace vellico::model {
namespace {

FoundFolder folder(std::string name, std::string parent, std::int64_t size, std::string path = {})
{
    FoundFolder f;
    f.name = std::move(name);
    f.parentName = std::move(parent);
    f.size = size;
    f.url =
        path.empty() ? "/lib/" + f.parentName + "/" + f.name + "/" + std::to_string(size) : path;
    return f;
}

FoundFolder backup(std::string location, std::int64_t size)
{
    return folder("Final Cut Backups", std::move(location), size,
                  "/backups/" + std::to_string(size));
}

std::vector<std::string> names(const std::vector<FoundFolder>& folders,
                               const FolderSelection& selection)
{
    std::vector<std::string> out;
    for (const FoundFolder& f : folders) {
        if (selection.count(f.url) != 0) {
            out.push_back(f.parentName + "/" + f.name);
        }
    }
    return out;
}

TEST(EditingPreset, InProgressTakesRenderSharedAndRootDataOnly)
{
    const std::vector<FoundFolder> found{
        backup("~/Movies", 10),
        folder("Render Files", "A", 1),
        folder("Shared Items", "A", 2),
        folder("Analysis Files", "A", 3),
        folder("Transcoded Media", "B", 4),
        folder(std::string(rootDataFolderName), "", 5),
        folder("VideoSegmentationFiles", "", 6),
        folder("Render Files", "C", 7),
    };
    EXPECT_EQ(names(found, presetSelection(EditingPreset::inProgress, found)),
              (std::vector<std::string>{"A/Render Files", "A/Shared Items", "/flexo.apple.com",
                                        "C/Render Files"}));
    EXPECT_EQ(names(found, presetSelection(EditingPreset::done, found)),
              (std::vector<std::string>{"~/Movies/Final Cut Backups", "A/Render Files",
                                        "A/Shared Items", "A/Analysis Files", "B/Transcoded Media",
                                        "/flexo.apple.com", "C/Render Files"}));
}

TEST(EditingPreset, SegmentationFilesAloneAreNeverSelected)
{
    const std::vector<FoundFolder> found{folder("VideoSegmentationFiles", "", 6)};
    EXPECT_TRUE(presetSelection(EditingPreset::inProgress, found).empty());
    EXPECT_TRUE(presetSelection(EditingPreset::done, found).empty());
}

TEST(FolderNames, CompareCanonicallyButCaseSensitively)
{
    // "Événements" composed (NFC) and decomposed (NFD, as HFS+ stores it).
    EXPECT_TRUE(namesEqual("\xC3\x89v\xC3\xA9nements", "E\xCC\x81ve\xCC\x81nements"));
    EXPECT_FALSE(namesEqual("Render Files", "render files"));
    EXPECT_FALSE(namesEqual("Render Files", "Render Files "));
    // Bytes that are not UTF-8 still compare, byte for byte.
    EXPECT_TRUE(namesEqual("a\xFF", "a\xFF"));
    EXPECT_FALSE(namesEqual("a\xFF", "a\xFE"));
}

TEST(Tooltips, KnownNamesGiveTheirHelpKeysOthersNothing)
{
    const TextLookup echo = [](std::string_view key) { return "<" + std::string(key) + ">"; };
    EXPECT_EQ(tooltipText("Final Cut Backups", echo), "<Final Cut Backups \u2014 aide>");
    EXPECT_EQ(tooltipText("Render Files", echo), "<Render Files \u2014 aide>");
    EXPECT_EQ(tooltipText("flexo.apple.com", echo), "<flexo.apple.com \u2014 aide>");
    EXPECT_EQ(tooltipText("Original Media", echo), std::nullopt);
    EXPECT_EQ(tooltipText("render files", echo), std::nullopt);
    const TextLookup empty = [](std::string_view) { return std::string(); };
    EXPECT_EQ(tooltipText("Render Files", empty), std::nullopt);
}

// Groups printed as "id: member, member" lines, compared with a table.
std::vector<std::string> describe(const std::vector<FolderGroup>& result)
{
    std::vector<std::string> lines;
    for (const FolderGroup& g : result) {
        std::string line = g.id + ":";
        for (const FoundFolder& f : g.folders) {
            line += " " + f.name;
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(FolderGroups, BackupsFirstEventsInOrderOutsideLast)
{
    const std::vector<FoundFolder> found{
        backup("Archive", 1),
        folder("Render Files", "B", 2),
        folder("VideoSegmentationFiles", "", 3),
        folder("Render Files", "A", 4),
        folder("Shared Items", "B", 5),
    };
    EXPECT_EQ(
        describe(groups(found)),
        (std::vector<std::string>{"__backups__: Final Cut Backups", "B: Render Files Shared Items",
                                  "A: Render Files", "__root__: VideoSegmentationFiles"}));
}

TEST(FolderGroups, OnlyTheGroupsThatHaveFolders)
{
    EXPECT_EQ(describe(groups(std::vector<FoundFolder>{folder("Render Files", "A", 1)})),
              (std::vector<std::string>{"A: Render Files"}));
    EXPECT_EQ(describe(groups(std::vector<FoundFolder>{backup("", 1)})),
              (std::vector<std::string>{"__backups__: Final Cut Backups"}));
    EXPECT_TRUE(groups(std::vector<FoundFolder>{}).empty());
}

TEST(FolderGroups, CheckStateFollowsTheSelection)
{
    const std::vector<FoundFolder> found{folder("Render Files", "A", 1),
                                         folder("Shared Items", "A", 2)};
    const FolderGroup group = groups(found).front();
    FolderSelection selection{found[0].url, found[1].url};
    EXPECT_EQ(checkState(group, selection), CheckState::all);
    selection.erase(found[1].url);
    EXPECT_EQ(checkState(group, selection), CheckState::partial);
    selection.erase(found[0].url);
    EXPECT_EQ(checkState(group, selection), CheckState::none);
    EXPECT_EQ(checkState(FolderGroup{}, selection), CheckState::none);
}

TEST(FolderGroups, TooltipOnlyWhenOneKindOfFolder)
{
    const TextLookup echo = [](std::string_view key) { return std::string(key); };
    const auto onlyRender = groups(
        std::vector<FoundFolder>{folder("Render Files", "A", 1), folder("Render Files", "A", 2)});
    EXPECT_EQ(groupTooltip(onlyRender.front(), echo), "Render Files \u2014 aide");
    const auto mixed = groups(
        std::vector<FoundFolder>{folder("Render Files", "A", 1), folder("Shared Items", "A", 2)});
    EXPECT_EQ(groupTooltip(mixed.front(), echo), std::nullopt);
    const auto backups =
        groups(std::vector<FoundFolder>{backup("~/Movies", 1), backup("Archive", 2)});
    EXPECT_EQ(groupTooltip(backups.front(), echo), "Final Cut Backups \u2014 aide");
}

TEST(FolderGroups, DisplayNameShowsABackupsLocation)
{
    EXPECT_EQ(displayName(backup("~/Movies", 1)), "~/Movies/Final Cut Backups");
    EXPECT_EQ(displayName(backup("", 1)), "Final Cut Backups");
    EXPECT_EQ(displayName(folder("Render Files", "Wedding", 1)), "Render Files");
}

TEST(SelectedSize, SumsSelectedFoundFoldersOnly)
{
    BundleInfo info;
    info.foundFolders = {folder("Render Files", "A", 100), folder("VideoSegmentationFiles", "", 50),
                         backup("~/Movies", 1000)};
    info.cacheTotalSize = 1 << 30;
    FolderSelection done = presetSelection(EditingPreset::done, info.foundFolders);
    EXPECT_EQ(selectedSize(&info, done), 1100);
    done.insert("/not/a/found/folder");
    EXPECT_EQ(selectedSize(&info, done), 1100);
    EXPECT_EQ(selectedSize(nullptr, done), 0);

    info.foundFolders = {folder("Render Files", "A", INT64_MAX), folder("Shared Items", "A", 5)};
    EXPECT_EQ(selectedSize(&info, presetSelection(EditingPreset::inProgress, info.foundFolders)),
              INT64_MAX);
}

} // namespace
} // namespace vellico::model
