#include "analysis/intake_flow.hpp"
#include "analysis/library_intake.hpp"
#include "formats/linux/linux_alias_files.hpp"
#include "formats/linux/linux_bookmark_resolver.hpp"
#include "platform/file_system.hpp"
#include "platform/mount_table.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;

class NoFlags final : public platform::ItemFlags {
public:
    bool isUserImmutable(const fs::path&) const override { return false; }
};

// Every item is a placeholder of the cloud drive, until `downloaded`.
class PlaceholderCloud final : public platform::CloudDrive {
public:
    bool downloaded = false;
    std::optional<platform::CloudItemState> itemState(const fs::path&) const override
    {
        return platform::CloudItemState{true, downloaded};
    }
    std::optional<std::string> startDownloading(const fs::path&) override { return {}; }
    bool isDownloadCurrent(const fs::path&) const override { return downloaded; }
    std::optional<std::string> downloadError(const fs::path&) const override { return {}; }
};

struct Intake {
    Intake()
    {
        auto mounts = std::make_shared<platform::FixedMountTable>(std::vector<fs::path>{});
        auto bookmarks = std::make_shared<platform::LinuxBookmarkResolver>(mounts);
        services = {std::make_shared<platform::LinuxAliasFiles>(bookmarks),
                    std::make_shared<NoFlags>(), std::make_shared<platform::LinuxCloudDrive>(),
                    bookmarks};
    }

    IntakeFlow flow(const fs::path& item)
    {
        return IntakeFlow(BatchInput{item.string(), nullptr, {}, {}}, services, scope);
    }

    IntakeServices services;
    BatchScope scope;
};

// A library and one backup of it, in the backups folder beside it.
struct LibraryAndBackup {
    explicit LibraryAndBackup(const fs::path& dir)
        : library(tools::LibraryBuilder(dir / "Film.fcpbundle").path()),
          backup(dir / "Backups" / "20240315_1042_GMT+1.fcpbundle")
    {
        tools::BackupContents shape;
        shape.originalURL = library;
        tools::writeBackupFolder(dir / "Backups", shape);
    }
    fs::path library;
    fs::path backup;
};

TEST(IntakeFlow, ABackupStopsOnAQuestionAndGoesOnWithTheAnswer)
{
    test::TempDir tmp;
    const LibraryAndBackup files(tmp.path());
    Intake intake;

    IntakeFlow declined = intake.flow(files.backup);
    const std::optional<IntakeQuestion> question = declined.advance();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->kind, IntakeQuestion::Kind::backupFound);
    EXPECT_EQ(question->path, files.backup);
    EXPECT_EQ(question->original, files.library);
    EXPECT_EQ(question->name, "20240315_1042_GMT+1");
    declined.answer(BackupAnswer{BackupAnswer::Kind::stop, {}});
    EXPECT_FALSE(declined.advance());
    const IntakeOutcome nothing = declined.takeOutcome();
    EXPECT_FALSE(nothing.library || nothing.refusal || nothing.backup || nothing.repeated);

    IntakeFlow accepted = intake.flow(files.backup);
    ASSERT_TRUE(accepted.advance());
    accepted.answer(BackupAnswer{BackupAnswer::Kind::takeOriginal, {}});
    EXPECT_FALSE(accepted.advance());
    IntakeOutcome outcome = accepted.takeOutcome();
    ASSERT_TRUE(outcome.library);
    // The original is analysed; every message still names what was given.
    EXPECT_EQ(outcome.library->url, files.library);
    EXPECT_EQ(outcome.library->backup, files.backup);
    EXPECT_EQ(outcome.library->displayName, "20240315_1042_GMT+1");
    const platform::UniqueFd original = platform::openDirectoryPath(files.library.string());
    EXPECT_EQ(platform::identityOf(outcome.library->bundle.get()),
              platform::identityOf(original.get()));

    // The original was taken in once: given again, it is the same library.
    IntakeFlow again = intake.flow(files.library);
    EXPECT_FALSE(again.advance());
    EXPECT_TRUE(again.takeOutcome().repeated);
}

TEST(IntakeFlow, APlaceholderOfTheCloudDriveIsAskedAbout)
{
    test::TempDir tmp;
    const fs::path library = tools::LibraryBuilder(tmp / "Nuage.fcpbundle").path();
    Intake intake;
    auto cloud = std::make_shared<PlaceholderCloud>();
    intake.services.cloud = cloud;

    IntakeFlow refused = intake.flow(library);
    const std::optional<IntakeQuestion> question = refused.advance();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->kind, IntakeQuestion::Kind::notDownloaded);
    EXPECT_EQ(question->path, library);
    refused.answer(CloudAnswer::refuse);
    EXPECT_FALSE(refused.advance());
    const IntakeOutcome refusal = refused.takeOutcome();
    ASSERT_TRUE(refusal.refusal);
    EXPECT_EQ(refusal.refusal->args, std::vector<std::string>{"Nuage"});
    EXPECT_FALSE(refusal.library);

    // Downloaded meanwhile: the flow goes on; the library is not one that
    // was already local in the cloud drive.
    IntakeFlow downloaded = intake.flow(library);
    ASSERT_TRUE(downloaded.advance());
    cloud->downloaded = true;
    downloaded.answer(CloudAnswer::downloaded);
    EXPECT_FALSE(downloaded.advance());
    const IntakeOutcome ready = downloaded.takeOutcome();
    ASSERT_TRUE(ready.library);
    EXPECT_FALSE(ready.library->inCloudDrive);

    // Already local: no question, and the library is known to live there.
    BatchScope fresh;
    IntakeFlow local(BatchInput{library.string(), nullptr, {}, {}}, intake.services, fresh);
    EXPECT_FALSE(local.advance());
    const IntakeOutcome localOutcome = local.takeOutcome();
    ASSERT_TRUE(localOutcome.library);
    EXPECT_TRUE(localOutcome.library->inCloudDrive);
}

} // namespace
} // namespace vellico::analysis
