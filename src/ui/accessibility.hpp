#pragma once

#include <QPushButton>
#include <QWidget>

namespace vellico::ui {

// What assistive technology (AT-SPI through Qt's accessibility bridge) is
// told about the window's own widgets, which Qt would otherwise present as
// plain panels or push buttons.
enum class AccessibleKind {
    // A folder group's header: a button that expands and collapses the
    // group, with the expanded or collapsed state (widget property
    // "expanded") and a press action that toggles it.
    groupHeader,
    // A folder row of an expanded group: a list item.
    folderRow,
    // A GroupCheckbox: a read-only check box, checked, partially checked
    // or not (the selection follows the preset, never a click on it).
    checkMark,
    // One choice of a set of exclusive choices (a checkable button): a radio
    // button, checked or not, pressed by its action.
    choice,
    // The box around a set of choices: a grouping, named.
    choiceGroup,
    // A widget that acts when clicked (the drop zone): a button whose press
    // action calls the widget's slot activate().
    pressable,
    // A link to a web page, drawn as a flat button: a link, pressed by its
    // action.
    link,
    // A title above a part of a text: a heading.
    heading,
    // What a finished task says (the result card): an alert, which screen
    // readers read out when it appears or takes the focus.
    alert,
};

// Gives `widget` the role of `kind`; installs the factory on the first call.
// Qt asks the factories for the most derived class first, and its own
// answers for QWidget and QPushButton: so `widget` must be of a class of
// this project (the two below, or GroupCheckbox).
void setAccessibleKind(QWidget* widget, AccessibleKind kind);

// A plain panel with the role of `kind`: a folder group's header, a folder
// row, the box around a set of choices.
class AccessiblePanel : public QWidget {
    Q_OBJECT

public:
    explicit AccessiblePanel(AccessibleKind kind, QWidget* parent = nullptr);
};

// A checkable push button that is one of a set of exclusive choices: a
// radio button for assistive technology.
class ChoiceButton : public QPushButton {
    Q_OBJECT

public:
    explicit ChoiceButton(const QString& text, QWidget* parent = nullptr);
};

// Tells assistive technology that `widget`'s expanded or checked state
// changed (no-op when nothing listens).
void notifyExpandedChanged(QWidget* widget);
void notifyCheckedChanged(QWidget* widget);
// Has assistive technology read `widget` out now (an alert).
void announce(QWidget* widget);

} // namespace vellico::ui
