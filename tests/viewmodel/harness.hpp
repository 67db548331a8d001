#pragma once

#include "support/temp_dir.hpp"
#include "viewmodel/fakes.hpp"
#include "viewmodel/main_view_model.hpp"

#include <QTest>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

// Builds a view model around fakes and temporary libraries, and the waits
// the tests share.
namespace vellico::test {

namespace fs = std::filesystem;
using viewmodel::ActiveSheet;
using viewmodel::AppState;
using viewmodel::MainViewModel;

class Harness {
public:
    Harness();

    TempDir dir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakeItemFlags> itemFlags = std::make_shared<FakeItemFlags>();
    std::shared_ptr<FakeCloudDrive> cloud = std::make_shared<FakeCloudDrive>();
    // Analyses started so far (the real analysis without backup search or
    // cache lookup, unless `analyzer` is replaced).
    std::shared_ptr<std::atomic<int>> analyses = std::make_shared<std::atomic<int>>(0);
    viewmodel::Analyzer analyzer;
    bool windowVisible = true;

    viewmodel::ViewModelServices services();
    std::unique_ptr<MainViewModel> makeViewModel();

    // A library "<name>.fcpbundle" in the temporary folder with one event
    // holding Render Files and Analysis Files, and a top-level data folder.
    fs::path library(const std::string& name);
};

// Holds the editor's exclusive lock on "<library>/.lock" as Final Cut Pro
// does while the library is open; gives it back when it goes away.
class EditorHold {
public:
    explicit EditorHold(const fs::path& library);
    ~EditorHold();
    EditorHold(const EditorHold&) = delete;
    EditorHold& operator=(const EditorHold&) = delete;
    void release();

private:
    int m_fd = -1;
};

// Waits (turning the event loop) until `predicate` holds; false after 10 s.
bool waitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);

QUrl urlOf(const fs::path& path);

// Drops `item` and waits until the intake shows `sheet`.
bool dropAndWaitForSheet(MainViewModel& vm, const fs::path& item, ActiveSheet sheet);

} // namespace vellico::test
