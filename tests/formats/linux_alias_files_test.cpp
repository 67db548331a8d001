#include "formats/bookmark_writer.hpp"
#include "formats/linux/linux_alias_files.hpp"
#include "formats/linux/linux_bookmark_resolver.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace vellico;
namespace fs = std::filesystem;

class LinuxAliasFilesTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> aliasFileTo(const fs::path& target)
    {
        formats::BookmarkTarget shape;
        shape.form = formats::BookmarkForm::file;
        for (const auto& part : target.relative_path()) {
            shape.pathComponents.push_back(part.string());
        }
        return formats::makeBookmarkData(shape);
    }
    void write(const fs::path& path, const std::vector<std::uint8_t>& bytes)
    {
        tools::writeFile(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    test::TempDir dir;
    platform::LinuxAliasFiles aliases{std::make_shared<platform::LinuxBookmarkResolver>(
        std::make_shared<platform::FixedMountTable>(std::vector<fs::path>{}))};
};

TEST_F(LinuxAliasFilesTest, SymbolicLinkResolvesToItsTarget)
{
    fs::create_directories(dir / "Film.fcpbundle");
    fs::create_symlink(dir / "Film.fcpbundle", dir / "lien");
    fs::create_symlink("lien", dir / "lien du lien");
    EXPECT_TRUE(aliases.isAliasFile(dir / "lien du lien"));
    EXPECT_EQ(aliases.resolveAliasFile(dir / "lien du lien"),
              fs::canonical(dir / "Film.fcpbundle"));
}

TEST_F(LinuxAliasFilesTest, DanglingOrLoopingLinkIsAnAliasThatDoesNotResolve)
{
    fs::create_symlink(dir / "disparu", dir / "mort");
    fs::create_symlink("boucle", dir / "boucle");
    for (const char* name : {"mort", "boucle"}) {
        EXPECT_TRUE(aliases.isAliasFile(dir / name)) << name;
        EXPECT_FALSE(aliases.resolveAliasFile(dir / name)) << name;
    }
}

TEST_F(LinuxAliasFilesTest, MacAliasFileResolvesThroughItsBookmark)
{
    fs::create_directories(dir / "Film.fcpbundle");
    write(dir / "Film alias", aliasFileTo(dir / "Film.fcpbundle"));
    write(dir / "Perdu alias", aliasFileTo(dir / "nulle part"));
    EXPECT_TRUE(aliases.isAliasFile(dir / "Film alias"));
    EXPECT_EQ(aliases.resolveAliasFile(dir / "Film alias"), dir / "Film.fcpbundle");
    EXPECT_TRUE(aliases.isAliasFile(dir / "Perdu alias"));
    EXPECT_FALSE(aliases.resolveAliasFile(dir / "Perdu alias"));
}

TEST_F(LinuxAliasFilesTest, OtherItemsAreNotAliases)
{
    fs::create_directories(dir / "Film.fcpbundle");
    tools::writeFile(dir / "photo.jpg", "book but not a bookmark");
    ASSERT_EQ(::mkfifo((dir / "tube").c_str(), 0600), 0);
    for (const char* name : {"Film.fcpbundle", "photo.jpg", "tube", "absent"}) {
        EXPECT_FALSE(aliases.isAliasFile(dir / name)) << name;
        EXPECT_FALSE(aliases.resolveAliasFile(dir / name)) << name;
    }
}

} // namespace
