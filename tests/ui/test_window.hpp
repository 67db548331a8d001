#pragma once

#include "ui/content_view.hpp"
#include "viewmodel/harness.hpp"

#include <QTest>

#include <memory>

namespace vellico::test {

// The main window's content around a real view model (fakes for the
// platform), shown and exposed. Built at once, or by open() once the
// harness has been set up (a replaced analyzer, say).
struct TestWindow {
    Harness harness;
    std::unique_ptr<MainViewModel> vm;
    std::unique_ptr<ui::MainWindowContent> view;

    enum class Opening { now, later };
    explicit TestWindow(Opening opening = Opening::now)
    {
        if (opening == Opening::now) {
            open();
        }
    }
    ~TestWindow() { view.reset(); }

    void open()
    {
        vm = harness.makeViewModel();
        view = std::make_unique<ui::MainWindowContent>(*vm);
        view->show();
        view->activateWindow();
        if (!QTest::qWaitForWindowExposed(view.get())) {
            qFatal("the main window was never exposed");
        }
    }

    // Brings the pointer into the window first: the window gets no enter
    // event of its own on the offscreen platform, so the first move inside
    // only sets the widget under the pointer.
    void enterWindow() const { QTest::mouseMove(view.get(), QPoint(4, 4)); }

    bool analyse(const fs::path& library)
    {
        vm->handleDrop(urlOf(library));
        return waitUntil([&] { return vm->appState() == AppState::ready; });
    }
};

} // namespace vellico::test
