#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

class QBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vellico::ui {

// What the sheets of the main window share: a window-modal dialog of fixed
// width (shown with open(), so no nested event loop), a centred column with
// spacing 20 and margins 30, an icon, a bold title, messages and buttons.
//
// Keys: Escape, alone or with Ctrl, presses the cancel button, if the sheet
// has one. Return presses the focused button, or the default button when no
// button has the focus; a button marked with setNotPressedByReturn() is only
// pressed by a click or Space (the deletion's confirmation: Return must
// never confirm it). The sheet opens with the focus on its default button,
// or, when it has none, on its cancel button. A sheet is answered only
// through its buttons: a close request from the window manager is refused,
// because an asking sheet closed without an answer would leave its question
// pending with nothing on screen.
// The owner closes the sheet with dismiss() once the answer is handled.
class SheetDialog : public QDialog {
    Q_OBJECT

public:
    enum class ButtonStyle { standard, prominent };

    SheetDialog(int width, QWidget* parent);

    // Closes the sheet from the owner's side, without any answer.
    void dismiss();

    QPushButton* defaultButton() const { return m_defaultButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

protected:
    QLabel* addSymbol(const QString& name, const QColor& color);
    QLabel* addArtwork(const QString& name);
    QLabel* addTitle(const QString& text);
    QLabel* addMessage(const QString& text, const QColor& color, QBoxLayout* into = nullptr);
    QPushButton* makeButton(const QString& text, ButtonStyle style, const QColor& tint = QColor());
    // Buttons side by side (spacing 12) or one above the other (spacing 8).
    void addButtonRow(const QList<QPushButton*>& buttons);
    void addButtonColumn(const QList<QPushButton*>& buttons);
    // Return presses `button` when no other button has the focus.
    void setDefaultButton(QPushButton* button);
    // Escape (and Ctrl+Escape) presses `button`.
    void setCancelButton(QPushButton* button);
    // Return does nothing while `button` has the focus.
    void setNotPressedByReturn(QPushButton* button);
    // Fixes the height to what the content needs at the sheet's width, now
    // and again whenever the content's layout changes.
    void finish();

    QVBoxLayout* column() const { return m_column; }

    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // True once the application was asked to quit.
    static bool applicationIsQuitting();

    int m_width;
    QVBoxLayout* m_column;
    QPushButton* m_defaultButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_notPressedByReturn = nullptr;
    bool m_dismissing = false;
    bool m_finished = false;
    bool m_fitting = false;

    void fitHeight();
};

} // namespace vellico::ui
