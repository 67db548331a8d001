#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vellico::app {

// What the command line asks of a launch.
struct LaunchOptions {
    // "--reset-settings": offer the preference reset, as Ctrl+Alt held at
    // launch does.
    bool resetSettings = false;
    // The items to open, as absolute file URLs, in command-line order.
    QList<QUrl> urls;
};

// Reads the arguments that follow the program name. A path is made absolute
// against `workingDirectory` (a second launch forwards its paths to an
// instance that runs elsewhere); a "file:" URL gives its local path. Skipped
// without a word: empty arguments, unknown options (anything starting with
// "-" before a "--"), and URLs of other schemes. After "--" every argument is
// a path, so a file named "-x" can still be opened.
LaunchOptions parseLaunchArguments(const QStringList& arguments, const QString& workingDirectory);

// The same items as file URLs, from absolute paths (what a second launch
// forwards). Empty and relative paths are skipped.
QList<QUrl> fileUrlsFromPaths(const QStringList& paths);

// The last component of a URL's path, trailing slashes ignored
// ("/a/B.fcpbundle/" gives "B.fcpbundle").
QString lastPathComponent(const QUrl& url);

// `urls` sorted ascending by their last path component, by code point; equal
// names keep their order.
QList<QUrl> sortedByLastPathComponent(QList<QUrl> urls);

} // namespace vellico::app
