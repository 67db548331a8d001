// Vellico's entry point: one instance per session, the application shell,
// the event loop.
#include "app/app_delegate.hpp"
#include "app/launch_options.hpp"
#include "app/quit_signals.hpp"
#include "app/single_instance.hpp"
#include "i18n/translations.hpp"
#include "product_config.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/texts.hpp"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// --help and --version are answered on stdout before any window system is
// contacted, so that they work without a display (over ssh, in a script).
// None when the command line asks for neither.
std::optional<int> answerWithoutWindow(int argc, char** argv)
{
    using namespace vellico;
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            break;
        }
        help = help || argument == "-h" || argument == "--help";
        version = version || argument == "-V" || argument == "--version";
    }
    if (!help && !version) {
        return std::nullopt;
    }
    std::string text;
    if (version) {
        text = "vellico " + std::string(config::version) + "\n";
    } else {
        i18n::install(i18n::loadTranslations(
            i18n::chooseLanguage([](const char* name) { return std::getenv(name); }),
            i18n::catalogueDirectories()));
        text = i18n::text("Utilisation : vellico [OPTION]... [BIBLIOTHÈQUE]...\n"
                          "Ouvre les bibliothèques Final Cut Pro données dans la fenêtre de "
                          "Vellico.\n\n"
                          "      --reset-settings  propose de remettre les préférences à zéro\n"
                          "  -h, --help            affiche cette aide\n"
                          "  -V, --version         affiche la version\n\n"
                          "vellico-cli fait le même travail dans un terminal (voir « man "
                          "vellico-cli »).\n");
    }
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace vellico;
    if (const std::optional<int> status = answerWithoutWindow(argc, argv)) {
        return *status;
    }
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
