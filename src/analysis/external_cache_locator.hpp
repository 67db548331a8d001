#pragma once

#include "analysis/analysis_services.hpp"
#include "platform/bookmark_resolver.hpp"

#include <filesystem>
#include <optional>
#include <string_view>

namespace vellico::analysis {

// Finds the library's external cache: the folder named by "cacheFolderName"
// inside the folder the "cacheLocation" bookmark points to, when it is on
// disk, and measures it. The cache is only reported, never listed for
// deletion.
class LibraryCacheLocator final : public ExternalCacheLocator {
public:
    explicit LibraryCacheLocator(const platform::BookmarkResolver& bookmarks)
        : m_bookmarks(bookmarks)
    {}

    ExternalCache findExternalCache(const formats::PlistValue& settings,
                                    const ProgressSink& progress,
                                    const platform::WalkControl& walk) const override;

private:
    const platform::BookmarkResolver& m_bookmarks;
};

// The external cache folder named `folderName` inside `location` (the
// folder the "cacheLocation" bookmark resolves to), as spelled on disk: the
// name is matched against the folder's entries by canonical equivalence, so
// "Cérémonie.fcpcache" written composed in the settings finds the folder a
// Mac disk holds decomposed, and the other way round. Links are followed (a
// cache on a disk linked into place is the user's own arrangement). None
// when there is no such directory or the name is not one path component.
// The analysis and the intake's missing-cache check both ask this, so a
// cache the intake finds is the one the analysis measures.
std::optional<std::filesystem::path> externalCacheFolder(const std::filesystem::path& location,
                                                         std::string_view folderName);

} // namespace vellico::analysis
