#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>

// Settings of the widget tests live in Qt's test location, emptied before
// each test, so the user's own settings are never read or written.
namespace vellico::test {

inline void useTestSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("VellicoWidgetTests"));
    QCoreApplication::setApplicationName(QStringLiteral("vellico-widget-tests"));
    QSettings().clear();
}

} // namespace vellico::test
