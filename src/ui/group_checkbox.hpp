#pragma once

#include "model/folder_group.hpp"

#include <QAbstractButton>

namespace vellico::ui {

// The check indicator of the folder list: an empty square for `none`, a
// white bar on an accent square for `partial`, a white tick on an accent
// square for `all`. Painted here rather than by the style, because Fusion's
// disabled tri-state boxes are nearly invisible on a dark palette.
//
// The list shows it disabled: the selection follows the editing preset, not
// clicks. A click on a disabled indicator goes nowhere: it is not passed on
// to the row around it either, so it cannot toggle a group.
class GroupCheckbox : public QAbstractButton {
    Q_OBJECT

public:
    explicit GroupCheckbox(model::CheckState state, QWidget* parent = nullptr);

    model::CheckState state() const { return m_state; }
    void setState(model::CheckState state);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    model::CheckState m_state;
};

} // namespace vellico::ui
