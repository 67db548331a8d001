#pragma once

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

// Settings of the widget tests live in Qt's test location, emptied before
// each test, so the user's own settings are never read or written.
namespace vellico::test {

inline void useTestSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("VellicoWidgetTests"));
    // One settings file per test program: ctest runs them side by side, and
    // one program's clear() must not wipe what another has just written.
    QCoreApplication::setApplicationName(
        QStringLiteral("vellico-widget-tests-") +
        QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QSettings().clear();
}

} // namespace vellico::test
