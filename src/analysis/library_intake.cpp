#include "analysis/library_intake.hpp"

#include "analysis/library_scan.hpp"
#include "platform/file_system.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

bool existsFollowing(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0; // links followed: the library itself must be there
}

} // namespace

bool hasLibraryExtension(const fs::path& path)
{
    std::string extension = platform::withoutTrailingSlashes(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".fcpbundle";
}

tl::expected<LibraryItem, IntakeError> checkLibraryItem(const fs::path& input,
                                                        const platform::ItemFlags& flags)
{
    using Kind = IntakeError::Kind;
    // Absolute from here on: what is analysed, listed and later deleted does
    // not depend on the working directory staying the same.
    std::error_code ec;
    const fs::path given = platform::withoutTrailingSlashes(fs::absolute(input, ec));
    LibraryItem item;
    item.url = given;

    struct stat st {};
    if (::lstat(given.c_str(), &st) != 0) {
        return tl::unexpected(IntakeError{Kind::missing, given.filename().string()});
    }
    if (S_ISLNK(st.st_mode)) {
        const fs::path target = fs::canonical(given, ec);
        if (ec) {
            return tl::unexpected(IntakeError{Kind::aliasUnresolvable, given.stem().string()});
        }
        item.url = target;
        item.isFromAlias = true;
    }
    if (!hasLibraryExtension(item.url)) {
        return tl::unexpected(IntakeError{Kind::notALibrary, item.url.filename().string()});
    }
    item.displayName = bundleDisplayName(item.url);
    if (flags.isUserImmutable(item.url)) {
        return tl::unexpected(IntakeError{Kind::locked, item.displayName});
    }
    if (!existsFollowing(item.url / "Settings.plist") ||
        !existsFollowing(item.url / "CurrentVersion.flexolibrary")) {
        return tl::unexpected(IntakeError{Kind::notALibrary, item.displayName});
    }
    return item;
}

} // namespace vellico::analysis
