#include "platform/user_folders.hpp"

#include "platform/file_system.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vellico::platform {

namespace fs = std::filesystem;

std::optional<fs::path> videosDirFromUserDirs(std::string_view text, const fs::path& home)
{
    // Lines look like: XDG_VIDEOS_DIR="$HOME/Vidéos". Only "$HOME/…" and
    // absolute paths are allowed by the format; the last assignment wins.
    std::optional<fs::path> result;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        constexpr std::string_view key = "XDG_VIDEOS_DIR=";
        if (line.substr(0, key.size()) != key) {
            continue;
        }
        line.remove_prefix(key.size());
        if (line.size() < 2 || line.front() != '"') {
            continue;
        }
        const std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos) {
            continue;
        }
        const std::string_view value = line.substr(1, close - 1);
        constexpr std::string_view homeVar = "$HOME";
        if (value.substr(0, homeVar.size()) == homeVar) {
            std::string rest(value.substr(homeVar.size()));
            // "$HOME/" alone means "no videos folder" in the format.
            if (rest.empty() || rest == "/") {
                result.reset();
            } else {
                result = fs::path(home.string() + rest);
            }
        } else if (!value.empty() && value.front() == '/') {
            result = fs::path(std::string(value));
        }
    }
    return result;
}

UserFolders userFolders(const fs::path& home)
{
    UserFolders folders{home, home / "Movies"};
    fs::path config = home / ".config";
    const char* envHome = std::getenv("HOME");
    const char* xdgConfig = std::getenv("XDG_CONFIG_HOME");
    if (envHome != nullptr && fs::path(envHome) == home && xdgConfig != nullptr &&
        xdgConfig[0] == '/') {
        config = xdgConfig;
    }
    UniqueFd dir = openDirectoryPath(config.string());
    if (!dir) {
        return folders;
    }
    const auto bytes = readRegularFileAt(dir.get(), "user-dirs.dirs", 64 * 1024);
    if (!bytes) {
        return folders;
    }
    const std::string text(bytes->begin(), bytes->end());
    if (auto videos = videosDirFromUserDirs(text, home)) {
        folders.movies = std::move(*videos);
    }
    return folders;
}

UserFolders currentUserFolders()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return userFolders(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return userFolders(found->pw_dir);
    }
    return userFolders("/");
}

} // namespace vellico::platform
