#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace vellico::platform {

// The user's home and Movies folders, where the editor keeps backups by
// default ("Final Cut Backups" inside Movies).
struct UserFolders {
    std::filesystem::path home;
    std::filesystem::path movies;
};

// The folders of the user whose home is `home`. Movies is the XDG videos
// folder when that user's "user-dirs.dirs" names one ($XDG_CONFIG_HOME is
// used for the current user's own home), otherwise "Movies" in the home.
UserFolders userFolders(const std::filesystem::path& home);

// The folders of the user running the process ($HOME, else the password
// database).
UserFolders currentUserFolders();

// XDG_VIDEOS_DIR from the text of a user-dirs.dirs file, "$HOME" replaced by
// `home`; none when the file does not name one.
std::optional<std::filesystem::path> videosDirFromUserDirs(std::string_view text,
                                                           const std::filesystem::path& home);

} // namespace vellico::platform
