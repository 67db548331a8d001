#include "platform/user_folders.hpp"

#include <gtest/gtest.h>

namespace vellico::platform {
namespace {

TEST(UserFolders, VideosFolderFromUserDirs)
{
    const struct {
        const char* text;
        const char* expected; // "" for none
    } cases[] = {
        {"XDG_VIDEOS_DIR=\"$HOME/Vidéos\"\n", "/home/ana/Vidéos"},
        {"# comment\nXDG_MUSIC_DIR=\"$HOME/Music\"\n  XDG_VIDEOS_DIR=\"/srv/films\"", "/srv/films"},
        {"XDG_VIDEOS_DIR=\"$HOME/\"\n", ""}, // the format's "no such folder"
        {"XDG_VIDEOS_DIR=relative\n", ""},
        {"XDG_VIDEOS_DIR=\"$HOME/A\"\nXDG_VIDEOS_DIR=\"$HOME/B\"\n", "/home/ana/B"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const auto result = videosDirFromUserDirs(c.text, "/home/ana");
        EXPECT_EQ(result.value_or("").string(), c.expected) << c.text;
    }
}

} // namespace
} // namespace vellico::platform
