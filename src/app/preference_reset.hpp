#pragma once

#include <QString>
#include <QStringList>
#include <Qt>

class QWidget;

// The preference reset offered at launch: Ctrl and Alt held (or
// "--reset-settings") show an alert; confirming it erases every setting of
// the application and starts it again.
namespace vellico::app {

// True when both Ctrl and Alt are among `modifiers`; Shift or Meta held as
// well do not matter.
bool isResetChord(Qt::KeyboardModifiers modifiers);

// The French alert. True when the user chose "Supprimer".
bool confirmPreferenceReset(QWidget* parent = nullptr);

// Removes every setting of the application and writes that to disk at once.
void removeAllSettings();

// The relaunch: /bin/sh waits until process `pid` has exited, polling every
// tenth of a second, then replaces itself with `executablePath`. The path
// and the pid are arguments of the script ($2 and $1), never part of its
// text, so quotes, "$", backquotes or backslashes in the path are taken
// literally.
inline const QString relaunchProgram = QStringLiteral("/bin/sh");
QStringList relaunchArguments(qint64 pid, const QString& executablePath);

} // namespace vellico::app
