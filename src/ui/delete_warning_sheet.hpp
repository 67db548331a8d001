#pragma once

#include "model/editing_preset.hpp"
#include "ui/sheet_dialog.hpp"

#include <cstdint>

class QCheckBox;

namespace vellico::ui {

// Asks before the selected folders are deleted: how much goes, from which
// library, what the preset in force removes. "Ne plus demander" writes the
// setting "skipDeleteWarning" at once, whichever button comes next. No
// default button: Return never deletes; Ctrl+Esc cancels.
class DeleteWarningSheet : public SheetDialog {
    Q_OBJECT

public:
    static constexpr const char* skipKey = "skipDeleteWarning";

    DeleteWarningSheet(std::int64_t reclaimableSize, const QString& libraryName,
                       model::EditingPreset selectedPreset, QWidget* parent = nullptr);

    // The same question for several libraries: `count` libraries, `folders`
    // folders, `reclaimableSize` bytes in all.
    DeleteWarningSheet(std::int64_t reclaimableSize, int count, int folders,
                       model::EditingPreset selectedPreset, QWidget* parent = nullptr);

    QCheckBox* skipToggle() const { return m_skip; }

signals:
    void confirmed();
    void cancelled();

private:
    DeleteWarningSheet(const QString& message, model::EditingPreset selectedPreset,
                       QWidget* parent);

    QCheckBox* m_skip;
};

} // namespace vellico::ui
