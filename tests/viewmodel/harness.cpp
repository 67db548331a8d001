#include "viewmodel/harness.hpp"

#include "analysis/library_scan.hpp"
#include "formats/linux/linux_alias_files.hpp"
#include "formats/linux/linux_bookmark_resolver.hpp"
#include "sample_library.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdexcept>

namespace vellico::test {

Harness::Harness()
{
    auto counter = analyses;
    analyzer = [counter](platform::UniqueFd fd, const fs::path& bundle, bool isFromAlias,
                         const analysis::ProgressSink& progress,
                         const platform::WalkControl& walk) {
        ++*counter;
        return analysis::analyzeBundle(std::move(fd), bundle, isFromAlias, {nullptr, nullptr, walk},
                                       progress);
    };
}

viewmodel::ViewModelServices Harness::services()
{
    // Bookmarks resolve against no mounted volume: only paths that exist
    // here as written.
    auto bookmarks = std::make_shared<platform::LinuxBookmarkResolver>(
        std::make_shared<platform::FixedMountTable>(std::vector<fs::path>{}));
    viewmodel::ViewModelServices services;
    services.aliases = std::make_shared<platform::LinuxAliasFiles>(bookmarks);
    services.itemFlags = itemFlags;
    services.cloud = cloud;
    services.bookmarks = bookmarks;
    services.analyze = analyzer;
    services.workspace = workspace;
    services.clock = clock;
    services.isMainWindowVisible = [this] { return windowVisible; };
    return services;
}

std::unique_ptr<MainViewModel> Harness::makeViewModel()
{
    return std::make_unique<MainViewModel>(services());
}

fs::path Harness::library(const std::string& name)
{
    tools::LibraryBuilder builder(dir / (name + ".fcpbundle"));
    builder.event("Event A", {"Render Files", "Analysis Files"}, 4096);
    builder.file("flexo.apple.com/thumbs.bin", 1000);
    return builder.path();
}

EditorHold::EditorHold(const fs::path& library)
{
    m_fd = ::open((library / ".lock").c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        throw std::runtime_error("cannot hold the library's lock");
    }
}

EditorHold::~EditorHold()
{
    release();
}

void EditorHold::release()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

bool waitUntil(const std::function<bool()>& predicate, int timeoutMs)
{
    return QTest::qWaitFor(predicate, timeoutMs);
}

QUrl urlOf(const fs::path& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

bool dropAndWaitForSheet(MainViewModel& vm, const fs::path& item, ActiveSheet sheet)
{
    vm.handleDrop(urlOf(item));
    return waitUntil([&] { return vm.activeSheet() == sheet; });
}

} // namespace vellico::test
