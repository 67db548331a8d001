#pragma once

#include <filesystem>

namespace vellico::platform {

// The desktop's file manager and running applications, as far as the
// application uses them. Called on the GUI thread; implementations must not
// block it (a slow bus is answered asynchronously).
class Workspace {
public:
    virtual ~Workspace() = default;

    // Shows the item selected in a file-manager window. Failures are silent.
    virtual void revealInFileManager(const std::filesystem::path& item) = 0;

    // Brings the video editor to the front when it is running; does nothing
    // otherwise.
    virtual void activateEditor() = 0;

    // True when the editor can run on this system, so that a button that
    // brings it forward means something. The editor runs only on macOS.
    virtual bool canActivateEditor() const { return false; }
};

} // namespace vellico::platform
