#pragma once

#include "ui/sheet_dialog.hpp"
#include "viewmodel/view_model_types.hpp"

namespace vellico::ui {

// The dropped item is an alias of a library: analyse the library, show the
// alias in the file manager, or stop. Return analyses; Ctrl+Esc cancels.
class AliasSheet : public SheetDialog {
    Q_OBJECT

public:
    explicit AliasSheet(const QString& aliasName, QWidget* parent = nullptr);

signals:
    void responded(vellico::viewmodel::AliasResponse response);
};

} // namespace vellico::ui
