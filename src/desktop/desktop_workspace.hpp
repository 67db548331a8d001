#pragma once

#include "platform/workspace.hpp"

#include <QObject>

namespace vellico::desktop {

// The freedesktop workspace. Revealing asks the file manager over the session
// bus (org.freedesktop.FileManager1.ShowItems) and, when there is no bus or
// the call fails, opens the item's parent folder with xdg-open. The call is
// asynchronous: the GUI thread never waits for the bus. The video editor
// never runs on Linux, so activating it does nothing.
class DesktopWorkspace final : public QObject, public platform::Workspace {
    Q_OBJECT
public:
    explicit DesktopWorkspace(QObject* parent = nullptr);

    void revealInFileManager(const std::filesystem::path& item) override;
    void activateEditor() override {}
};

} // namespace vellico::desktop
