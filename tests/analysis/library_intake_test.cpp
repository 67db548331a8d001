#include "analysis/library_intake.hpp"
#include "formats/linux/linux_alias_files.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <set>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;
using Kind = IntakeError::Kind;

class FakeFlags final : public platform::ItemFlags {
public:
    std::set<fs::path> locked;
    bool isUserImmutable(const fs::path& item) const override { return locked.count(item) != 0; }
};

// Symbolic links only: no bookmark resolver for alias files.
const platform::LinuxAliasFiles links{nullptr};

TEST(LibraryIntake, RefusalsCarryTheNameTheMessageShows)
{
    test::TempDir tmp;
    FakeFlags flags;
    tools::writeFile(tmp / "photo.jpg", "x");
    const fs::path locked = tools::LibraryBuilder(tmp / "Verrou.fcpbundle").path();
    flags.locked.insert(locked);
    fs::create_symlink(tmp / "gone.fcpbundle", tmp / "Alias cassé.fcpbundle");

    const struct {
        fs::path input;
        Kind kind;
        const char* text;
    } cases[] = {
        {tmp / "photo.jpg", Kind::notALibrary, "photo.jpg"},
        {locked, Kind::locked, "Verrou"},
        {tmp / "Alias cassé.fcpbundle", Kind::aliasUnresolvable, "Alias cassé"},
        {tmp / "Absent.fcpbundle", Kind::missing, "Absent.fcpbundle"},
    };
    for (const auto& c : cases) {
        const auto result = checkLibraryItem(c.input, links, flags);
        ASSERT_FALSE(result.has_value()) << c.input;
        EXPECT_EQ(result.error().kind, c.kind) << c.input;
        EXPECT_EQ(result.error().name, c.text) << c.input;
    }
}

TEST(LibraryIntake, AcceptsLibrariesInAnyCaseAndThroughLinks)
{
    test::TempDir tmp;
    FakeFlags flags;
    const fs::path upper = tools::LibraryBuilder(tmp / "Film.FCPBUNDLE").path();
    const auto direct = checkLibraryItem(upper.string() + "/", links, flags);
    ASSERT_TRUE(direct.has_value());
    EXPECT_EQ(direct->displayName, "Film");
    EXPECT_FALSE(direct->isFromAlias);

    fs::create_symlink(upper, tmp / "Raccourci");
    const auto linked = checkLibraryItem(tmp / "Raccourci", links, flags);
    ASSERT_TRUE(linked.has_value());
    EXPECT_TRUE(linked->isFromAlias);
    EXPECT_EQ(linked->url, fs::canonical(upper));
}

} // namespace
} // namespace vellico::analysis
