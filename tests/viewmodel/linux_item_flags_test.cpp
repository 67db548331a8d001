#include "platform/item_flags.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace vellico;
namespace fs = std::filesystem;

int chattr(const char* flag, const fs::path& item)
{
    const std::string command =
        std::string("chattr ") + flag + " '" + item.string() + "' 2>/dev/null";
    return std::system(command.c_str());
}

// The immutable attribute is the Linux form of the Finder's lock. Setting it
// needs root (CAP_LINUX_IMMUTABLE) and a file system that has it.
TEST(LinuxItemFlags, ImmutableAttributeIsTheLock)
{
    test::TempDir dir;
    const fs::path library = dir / "Film.fcpbundle";
    tools::makeFolders(library);
    const platform::LinuxItemFlags flags;
    EXPECT_FALSE(flags.isUserImmutable(library));
    if (chattr("+i", library) != 0) {
        GTEST_SKIP() << "chattr +i is not possible here";
    }
    const bool locked = flags.isUserImmutable(library);
    chattr("-i", library); // before any assertion, or the temporary folder stays behind
    EXPECT_TRUE(locked);
    EXPECT_FALSE(flags.isUserImmutable(library));
}

TEST(LinuxItemFlags, MissingItemIsNotLocked)
{
    test::TempDir dir;
    EXPECT_FALSE(platform::LinuxItemFlags().isUserImmutable(dir / "absent"));
}

} // namespace
