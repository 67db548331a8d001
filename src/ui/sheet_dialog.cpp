#include "ui/sheet_dialog.hpp"

#include "ui/symbol_icons.hpp"
#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include "ui/wrapping_label.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace vellico::ui {

namespace {

// Sees the application's quit request before the windows are asked to close.
class QuitWatcher final : public QObject {
public:
    bool quitting = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            quitting = true;
        }
        return false;
    }
};

QuitWatcher* quitWatcher()
{
    static QuitWatcher* watcher = [] {
        auto* w = new QuitWatcher;
        w->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(w);
        return w;
    }();
    return watcher;
}

} // namespace

SheetDialog::SheetDialog(int width, QWidget* parent)
    : QDialog(parent, Qt::Sheet | Qt::Dialog), m_width(width), m_column(new QVBoxLayout(this))
{
    applicationIsQuitting(); // starts watching for the quit request
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedWidth(width);
    m_column->setContentsMargins(30, 30, 30, 30);
    m_column->setSpacing(20);
    // No alignment of the column itself: an aligned layout keeps to its size
    // hint, and a wrapped message is taller than its hint at the sheet's
    // width, which squashed the buttons under it. Each item centres itself.
}

void SheetDialog::dismiss()
{
    m_dismissing = true;
    hide();
    deleteLater();
}

QLabel* SheetDialog::addSymbol(const QString& name, const QColor& color)
{
    auto* icon = new SymbolLabel(name, 40, color, this);
    icon->setAccessibleName(name);
    m_column->addWidget(icon, 0, Qt::AlignHCenter);
    return icon;
}

QLabel* SheetDialog::addArtwork(const QString& name)
{
    auto* icon = new QLabel(this);
    icon->setFixedSize(40, 40);
    icon->setPixmap(symbolPixmap(name, 40, Qt::white, QColor(), devicePixelRatioF()));
    m_column->addWidget(icon, 0, Qt::AlignHCenter);
    return icon;
}

QLabel* SheetDialog::addTitle(const QString& text)
{
    auto* title = new WrappingLabel(text, this);
    styleLabel(title, TextStyle::title2, colors::primary(), QFont::Bold);
    title->setAlignment(Qt::AlignHCenter);
    m_column->addWidget(title);
    setWindowTitle(text);
    setAccessibleName(text);
    return title;
}

QLabel* SheetDialog::addMessage(const QString& text, const QColor& color, QBoxLayout* into)
{
    auto* message = new WrappingLabel(text, this);
    styleLabel(message, TextStyle::subheadline, color);
    message->setAlignment(Qt::AlignHCenter);
    (into ? into : m_column)->addWidget(message);
    // A screen reader announces the sheet's title (its name) and its first
    // message (its description) when the sheet opens.
    if (accessibleDescription().isEmpty()) {
        setAccessibleDescription(text);
    }
    return message;
}

QPushButton* SheetDialog::makeButton(const QString& text, ButtonStyle style, const QColor& tint)
{
    auto* button = new QPushButton(text, this);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setAccessibleName(text);
    button->setMinimumWidth(90);
    if (style == ButtonStyle::prominent) {
        makeProminent(button, tint.isValid() ? tint : colors::accent());
    } else {
        makeStandard(button);
    }
    return button;
}

void SheetDialog::addButtonRow(const QList<QPushButton*>& buttons)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addStretch(1);
    for (QPushButton* button : buttons) {
        row->addWidget(button, 0, Qt::AlignVCenter);
    }
    row->addStretch(1);
    m_column->addLayout(row);
}

void SheetDialog::addButtonColumn(const QList<QPushButton*>& buttons)
{
    auto* stack = new QVBoxLayout;
    stack->setSpacing(8);
    for (QPushButton* button : buttons) {
        stack->addWidget(button, 0, Qt::AlignHCenter);
    }
    m_column->addLayout(stack);
}

void SheetDialog::setDefaultButton(QPushButton* button)
{
    m_defaultButton = button;
    button->setDefault(true);
}

void SheetDialog::setCancelButton(QPushButton* button)
{
    m_cancelButton = button;
    button->setToolTip(VELLICO_TEXT("Échap"));
}

void SheetDialog::setNotPressedByReturn(QPushButton* button)
{
    m_notPressedByReturn = button;
}

void SheetDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A question that deletes or downloads has no default button: the focus
    // starts on the way out, so that Space or Return right away answers no.
    if (QPushButton* first = m_defaultButton ? m_defaultButton : m_cancelButton) {
        first->setFocus(Qt::OtherFocusReason);
    }
}

void SheetDialog::finish()
{
    m_finished = true;
    fitHeight();
}

void SheetDialog::fitHeight()
{
    // The buttons' heights come from the style sheets, which apply when the
    // widgets are polished: measured before that, a message of several
    // lines left the buttons too little room. So polish first, and measure
    // again whenever the content asks for a new layout.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->ensurePolished();
    }
    const int needed =
        std::max(m_column->totalHeightForWidth(m_width), m_column->totalMinimumSize().height());
    if (needed != height() || minimumHeight() != maximumHeight()) {
        setFixedHeight(needed);
    }
}

bool SheetDialog::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Polish:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::LayoutRequest:
        if (m_finished && !m_fitting) {
            m_fitting = true;
            fitHeight();
            m_fitting = false;
        }
        break;
    default:
        break;
    }
    return handled;
}

void SheetDialog::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape) {
        if ((modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier) && m_cancelButton &&
            m_cancelButton->isEnabled()) {
            m_cancelButton->click();
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (modifiers == Qt::NoModifier) {
            // Buttons are never auto-default, so a focused button leaves
            // Return to the sheet: it presses that button here.
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            if (focused && focused->window() == this) {
                if (focused != m_notPressedByReturn && focused->isEnabled()) {
                    focused->click();
                }
            } else if (m_defaultButton && m_defaultButton->isEnabled()) {
                m_defaultButton->click();
            }
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool SheetDialog::applicationIsQuitting()
{
    return quitWatcher()->quitting;
}

void SheetDialog::closeEvent(QCloseEvent* event)
{
    // The window manager's close button would leave the question pending
    // with nothing on screen: only the sheet's own buttons answer it. When
    // the application quits, every window is asked to close first: then the
    // sheet goes, or it would keep the application alive.
    if (m_dismissing || applicationIsQuitting()) {
        event->accept();
        return;
    }
    event->ignore();
}

} // namespace vellico::ui
