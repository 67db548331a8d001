#pragma once

#include "analysis/analysis_services.hpp"
#include "platform/bookmark_resolver.hpp"

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
                                    const ProgressSink& progress) const override;

private:
    const platform::BookmarkResolver& m_bookmarks;
};

} // namespace vellico::analysis
