#include "app/launch_options.hpp"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace vellico::app {

namespace {

std::optional<QUrl> urlForArgument(const QString& argument, const QString& workingDirectory)
{
    if (argument.isEmpty()) {
        return std::nullopt;
    }
    // Some launchers hand over URIs rather than paths (%U instead of %F);
    // only local files can be opened.
    static const QRegularExpression uriScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(argument, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
            return std::nullopt;
        }
        return QUrl::fromLocalFile(url.toLocalFile());
    }
    if (argument.contains(QLatin1String("://")) && uriScheme.match(argument).hasMatch()) {
        return std::nullopt;
    }
    // Not cleaned: ".." after a symbolic link means the link's parent to the
    // file system, not the lexical one.
    return QUrl::fromLocalFile(QFileInfo(QDir(workingDirectory), argument).absoluteFilePath());
}

} // namespace

LaunchOptions parseLaunchArguments(const QStringList& arguments, const QString& workingDirectory)
{
    LaunchOptions options;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--reset-settings")) {
                options.resetSettings = true;
            }
            continue;
        }
        if (const auto url = urlForArgument(argument, workingDirectory)) {
            options.urls.append(*url);
        }
    }
    return options;
}

QList<QUrl> fileUrlsFromPaths(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths) {
        if (!path.isEmpty() && QDir::isAbsolutePath(path)) {
            urls.append(QUrl::fromLocalFile(path));
        }
    }
    return urls;
}

QString lastPathComponent(const QUrl& url)
{
    QString path = url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QList<QUrl> sortedByLastPathComponent(QList<QUrl> urls)
{
    std::stable_sort(urls.begin(), urls.end(), [](const QUrl& a, const QUrl& b) {
        return QString::compare(lastPathComponent(a), lastPathComponent(b), Qt::CaseSensitive) < 0;
    });
    return urls;
}

} // namespace vellico::app
