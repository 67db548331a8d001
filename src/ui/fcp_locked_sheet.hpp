#pragma once

#include "ui/sheet_dialog.hpp"
#include "viewmodel/view_model_types.hpp"

namespace vellico::ui {

// The library is open in the editor: analyse anyway (deletion will be
// refused while it stays open) or stop. "Voir Final Cut Pro" brings the
// editor forward and leaves the sheet up; the view model answers `unlocked`
// on its own once the editor has closed the library. Return analyses;
// Ctrl+Esc cancels.
class FCPLockedSheet : public SheetDialog {
    Q_OBJECT

public:
    explicit FCPLockedSheet(const QString& libraryName, QWidget* parent = nullptr);

signals:
    void responded(vellico::viewmodel::FCPLockedResponse response);
    void showEditorRequested();
};

} // namespace vellico::ui
