#pragma once

#include "ui/sheet_dialog.hpp"
#include "viewmodel/view_model_types.hpp"

namespace vellico::ui {

// The library is open in the editor: analyse anyway (deletion will be
// refused while it stays open) or stop. The message names the application
// and the machine that hold the library, as its lock record says, when it
// says. "Voir Final Cut Pro", offered only where the editor can run, brings
// the editor forward and leaves the sheet up; the view model answers
// `unlocked` on its own once the editor has closed the library. Return
// analyses; Escape cancels.
class FCPLockedSheet : public SheetDialog {
    Q_OBJECT

public:
    // `host`: the machine named by the lock record (empty: unknown);
    // `application`: the holder it names (empty: the editor).
    explicit FCPLockedSheet(const QString& libraryName, const QString& host = {},
                            const QString& application = {}, bool offerEditor = false,
                            QWidget* parent = nullptr);

signals:
    void responded(vellico::viewmodel::FCPLockedResponse response);
    void showEditorRequested();
};

} // namespace vellico::ui
