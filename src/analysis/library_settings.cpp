#include "analysis/library_settings.hpp"

#include "platform/file_system.hpp"

namespace vellico::analysis {

std::optional<formats::PlistValue> readLibrarySettings(int bundleFd)
{
    return formats::readPropertyListDictionaryAt(bundleFd, "Settings.plist");
}

std::optional<formats::PlistValue> readLibrarySettings(const std::filesystem::path& bundle)
{
    platform::UniqueFd fd = platform::openDirectoryPath(bundle.string());
    if (!fd) {
        return std::nullopt;
    }
    return readLibrarySettings(fd.get());
}

} // namespace vellico::analysis
