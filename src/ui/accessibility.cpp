#include "ui/accessibility.hpp"

#include "ui/folder_list_view.hpp"
#include "ui/group_checkbox.hpp"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace vellico::ui {

namespace {

constexpr const char* kindProperty = "vellicoAccessibleKind";

std::optional<AccessibleKind> kindOf(QObject* object)
{
    const QVariant kind = object->property(kindProperty);
    if (!kind.isValid()) {
        return std::nullopt;
    }
    return static_cast<AccessibleKind>(kind.toInt());
}

QAccessible::Role roleOf(AccessibleKind kind)
{
    switch (kind) {
    case AccessibleKind::groupHeader:
        return QAccessible::Button;
    case AccessibleKind::folderRow:
        return QAccessible::ListItem;
    case AccessibleKind::checkMark:
        return QAccessible::CheckBox;
    case AccessibleKind::choice:
        return QAccessible::RadioButton;
    case AccessibleKind::choiceGroup:
        return QAccessible::Grouping;
    case AccessibleKind::pressable:
        return QAccessible::Button;
    case AccessibleKind::link:
        return QAccessible::Link;
    case AccessibleKind::heading:
        return QAccessible::Heading;
    case AccessibleKind::alert:
        return QAccessible::AlertMessage;
    }
    return QAccessible::Client;
}

class KindAccessible final : public QAccessibleWidget {
public:
    KindAccessible(QWidget* widget, AccessibleKind kind)
        : QAccessibleWidget(widget, roleOf(kind)), m_kind(kind)
    {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        switch (m_kind) {
        case AccessibleKind::groupHeader: {
            const bool expanded = widget()->property("expanded").toBool();
            state.expandable = true;
            state.expanded = expanded;
            state.collapsed = !expanded;
            break;
        }
        case AccessibleKind::checkMark:
            if (const auto* mark = qobject_cast<const GroupCheckbox*>(widget())) {
                state.checkable = true;
                state.readOnly = true;
                state.checked = mark->state() == model::CheckState::all;
                state.checkStateMixed = mark->state() == model::CheckState::partial;
            }
            break;
        case AccessibleKind::choice:
            if (const auto* button = qobject_cast<const QAbstractButton*>(widget())) {
                state.checkable = true;
                state.checked = button->isChecked();
            }
            break;
        default:
            break;
        }
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled() &&
            (m_kind == AccessibleKind::groupHeader || m_kind == AccessibleKind::choice ||
             m_kind == AccessibleKind::pressable || m_kind == AccessibleKind::link)) {
            names.prepend(pressAction());
            if (m_kind == AccessibleKind::groupHeader) {
                names.append(toggleAction());
            }
        }
        return names;
    }

    void doAction(const QString& name) override
    {
        if (!widget()->isEnabled()) {
            return;
        }
        if (m_kind == AccessibleKind::groupHeader &&
            (name == pressAction() || name == toggleAction())) {
            for (QObject* up = widget()->parent(); up; up = up->parent()) {
                if (auto* list = qobject_cast<FolderListView*>(up)) {
                    list->toggleGroup(widget()->property("groupId").toString());
                    return;
                }
            }
            return;
        }
        if ((m_kind == AccessibleKind::choice || m_kind == AccessibleKind::link) &&
            name == pressAction()) {
            if (auto* button = qobject_cast<QAbstractButton*>(widget())) {
                button->click();
            }
            return;
        }
        if (m_kind == AccessibleKind::pressable && name == pressAction()) {
            QMetaObject::invokeMethod(widget(), "activate", Qt::QueuedConnection);
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    AccessibleKind m_kind;
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    const auto kind = kindOf(object);
    if (!kind) {
        return nullptr;
    }
    return new KindAccessible(static_cast<QWidget*>(object), *kind);
}

void notifyState(QWidget* widget, QAccessible::State changed)
{
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace

void setAccessibleKind(QWidget* widget, AccessibleKind kind)
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kindProperty, static_cast<int>(kind));
    // A reader that is already listening may have been told about the
    // widget when it was created, with Qt's plain interface: drop that one,
    // so the next query builds this kind's.
    if (QAccessible::isActive()) {
        if (QAccessibleInterface* existing = QAccessible::queryAccessibleInterface(widget);
            existing && !dynamic_cast<KindAccessible*>(existing)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
        }
    }
}

AccessiblePanel::AccessiblePanel(AccessibleKind kind, QWidget* parent) : QWidget(parent)
{
    setAccessibleKind(this, kind);
}

ChoiceButton::ChoiceButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setCheckable(true);
    setAccessibleKind(this, AccessibleKind::choice);
}

void notifyExpandedChanged(QWidget* widget)
{
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    notifyState(widget, changed);
}

void announce(QWidget* widget)
{
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleEvent event(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

void notifyCheckedChanged(QWidget* widget)
{
    QAccessible::State changed;
    changed.checked = true;
    changed.checkStateMixed = true;
    notifyState(widget, changed);
}

} // namespace vellico::ui
