// Vellico's entry point: one instance per session, the application shell,
// the event loop.
#include "app/app_delegate.hpp"
#include "app/launch_options.hpp"
#include "app/quit_signals.hpp"
#include "app/single_instance.hpp"
#include "product_config.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/va_ravevada_view_model.hpp"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv)
{
    using namespace vellico;
    QApplication application(argc, argv);
    // From here on a termination signal is seen by the event loop (once it
    // runs) rather than ending the process on the spot.
    app::QuitSignals quitSignals;
    // Before the first QSettings: they name the settings file.
    QCoreApplication::setOrganizationName(QStringLiteral("Vellico"));
    QCoreApplication::setApplicationName(QStringLiteral("Vellico"));
    QCoreApplication::setApplicationVersion(
        QString::fromUtf8(config::version.data(), static_cast<qsizetype>(config::version.size())));
    QGuiApplication::setDesktopFileName(QStringLiteral("vellico"));
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("vellico"), QIcon(QStringLiteral(":/icons/vellico.svg"))));
    viewmodel::texts::installTranslations(application);

    const app::LaunchOptions options =
        app::parseLaunchArguments(QCoreApplication::arguments().mid(1), QDir::currentPath());
    QStringList paths;
    for (const QUrl& url : options.urls) {
        paths.append(url.toLocalFile());
    }

    // A running instance takes the libraries and comes to the front.
    app::SingleInstance instance(app::SingleInstance::defaultServerName());
    if (app::SingleInstance::forward(instance.serverName(), paths)) {
        if (options.resetSettings) {
            // Its settings would be written again when it quits.
            const QString message = viewmodel::texts::translate(
                QT_TRANSLATE_NOOP("Vellico", "Vellico est déjà ouvert : quittez-le avant de "
                                             "réinitialiser les préférences."));
            std::fprintf(stderr, "%s\n", message.toUtf8().constData());
            return 1;
        }
        return 0;
    }
    // Not listening (another instance that does not answer, or no private
    // folder for the socket): run alone.
    instance.listen();

    app::AppServices services = app::machineAppServices();
    services.resetSettingsSwitch = options.resetSettings;
    app::AppDelegate delegate(std::move(services));
    QObject::connect(&instance, &app::SingleInstance::pathsReceived, &delegate,
                     &app::AppDelegate::handleForwardedPaths);

    // A logout's SIGTERM, a closed terminal's SIGHUP or Ctrl-C: stop a
    // running deletion after the file in hand and quit the normal way; the
    // view model's teardown waits for the deletion and gives the lock back.
    QObject::connect(&quitSignals, &app::QuitSignals::received, &delegate, [&delegate] {
        delegate.viewModel().stopDeletion();
        QCoreApplication::quit();
    });

    delegate.applicationWillFinishLaunching();
    delegate.openURLs(options.urls);
    if (!delegate.applicationDidFinishLaunching()) {
        return 0;
    }
    return application.exec();
}
