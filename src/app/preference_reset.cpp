#include "app/preference_reset.hpp"

#include "viewmodel/texts.hpp"

#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace vellico::app {

namespace {

constexpr const char* alertTitleKey =
    QT_TRANSLATE_NOOP("Vellico", "Supprimer les réglages personnalisés");
constexpr const char* alertTextKey =
    QT_TRANSLATE_NOOP("Vellico", "Tous les réglages d'application personnalisés seront supprimés. "
                                 "Cette action n'affectera pas vos bibliothèques et documents.");
constexpr const char* deleteKey = QT_TRANSLATE_NOOP("Vellico", "Supprimer");
constexpr const char* continueKey = QT_TRANSLATE_NOOP("Vellico", "Continuer");

} // namespace

bool isResetChord(Qt::KeyboardModifiers modifiers)
{
    return modifiers.testFlag(Qt::ControlModifier) && modifiers.testFlag(Qt::AltModifier);
}

bool confirmPreferenceReset(QWidget* parent)
{
    QMessageBox alert(parent);
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(QStringLiteral("Vellico"));
    alert.setText(viewmodel::texts::translate(alertTitleKey));
    alert.setInformativeText(viewmodel::texts::translate(alertTextKey));
    QPushButton* remove =
        alert.addButton(viewmodel::texts::translate(deleteKey), QMessageBox::DestructiveRole);
    QPushButton* keep =
        alert.addButton(viewmodel::texts::translate(continueKey), QMessageBox::RejectRole);
    alert.setDefaultButton(remove);
    alert.setEscapeButton(keep);
    alert.exec();
    return alert.clickedButton() == remove;
}

void removeAllSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

QStringList relaunchArguments(qint64 pid, const QString& executablePath)
{
    return {QStringLiteral("-c"),
            QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; done; exec \"$2\""),
            QStringLiteral("sh"), QString::number(pid), executablePath};
}

} // namespace vellico::app
