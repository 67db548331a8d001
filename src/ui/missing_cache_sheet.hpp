#pragma once

#include "ui/sheet_dialog.hpp"

class QTextEdit;

namespace vellico::ui {

// The library names an external cache that cannot be found: analyse anyway
// (true) or stop (false). The path can be selected and copied. Return
// analyses; Ctrl+Esc stops.
class MissingCacheSheet : public SheetDialog {
    Q_OBJECT

public:
    explicit MissingCacheSheet(const QString& cachePath, QWidget* parent = nullptr);

    QTextEdit* pathField() const { return m_path; }

signals:
    void responded(bool goOn);

private:
    QTextEdit* m_path;
};

} // namespace vellico::ui
