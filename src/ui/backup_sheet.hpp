#pragma once

#include "ui/sheet_dialog.hpp"
#include "viewmodel/view_model_types.hpp"

namespace vellico::ui {

// The dropped library is a backup of another one: analyse the original,
// show the backup in the file manager, or stop. Return analyses the
// original; Ctrl+Esc cancels.
class BackupSheet : public SheetDialog {
    Q_OBJECT

public:
    BackupSheet(const QString& backupName, const QString& originalLibraryName,
                QWidget* parent = nullptr);

signals:
    void responded(vellico::viewmodel::BackupResponse response);
};

} // namespace vellico::ui
