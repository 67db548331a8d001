// The menu bar and the actions behind it: links, support mail, About.
#include "app/app_delegate.hpp"

#include "app/support_mail.hpp"
#include "i18n/translations.hpp"
#include "product_config.hpp"
#include "viewmodel/texts.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace vellico::app {

namespace {

constexpr const char* aboutKey = QT_TRANSLATE_NOOP("Vellico", "À propos de %1");
constexpr const char* versionKey = QT_TRANSLATE_NOOP("Vellico", "Version %1 (%2)");
constexpr const char* quitKey = QT_TRANSLATE_NOOP("Vellico", "Quitter %1");
constexpr const char* searchKey = QT_TRANSLATE_NOOP("Vellico", "Rechercher des bibliothèques…");
constexpr const char* helpMenuKey = QT_TRANSLATE_NOOP("Vellico", "Aide");
constexpr const char* documentationKey = QT_TRANSLATE_NOOP("Vellico", "Aide Vellico");
constexpr const char* tutorialKey = QT_TRANSLATE_NOOP("Vellico", "Tutoriel vidéo");
constexpr const char* websiteKey = QT_TRANSLATE_NOOP("Vellico", "Vellico Website");
constexpr const char* supportKey = QT_TRANSLATE_NOOP("Vellico", "Contacter le support");
// The display text names this platform's keys (Ctrl+Alt).
constexpr const char* resetHintKey =
    QT_TRANSLATE_NOOP("Vellico", "⌘⌥ au lancement : réinitialise les préférences");

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QString AppDelegate::applicationName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Vellico") : name;
}

void AppDelegate::buildMainMenu()
{
    if (!m_mainWindow) {
        return;
    }
    using viewmodel::texts::fill;
    using viewmodel::texts::translate;
    const QString name = applicationName();
    QMenuBar* bar = m_mainWindow->menuBar();
    bar->clear();

    // No File, Edit or Window menu: the window offers what they would.
    QMenu* appMenu = bar->addMenu(name);
    appMenu->addAction(fill(aboutKey, name), this, &AppDelegate::showAboutBox);
    appMenu->addSeparator();
    QAction* search = appMenu->addAction(translate(searchKey), this, &AppDelegate::showSearchPanel);
    search->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(fill(quitKey, name));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    // closeAllWindows() first, so the main window's frame is saved and a
    // window may still refuse.
    connect(quit, &QAction::triggered, qApp, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    QMenu* help = bar->addMenu(translate(helpMenuKey));
    QAction* documentation =
        help->addAction(translate(documentationKey), this, &AppDelegate::openDocumentation);
    // Ctrl+? as on the Mac, and F1, where Linux users look for help.
    documentation->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Question), QKeySequence(Qt::Key_F1)});
    help->addAction(translate(tutorialKey), this, &AppDelegate::openYouTube);
    help->addAction(translate(websiteKey), this, &AppDelegate::openWebsite);
    help->addAction(translate(supportKey), this, &AppDelegate::openSupportMail);
    help->addSeparator();
    QAction* hint = help->addAction(translate(resetHintKey));
    hint->setEnabled(false);
}

void AppDelegate::openYouTube()
{
    if (m_services.openUrl) {
        m_services.openUrl(QUrl(fromView(config::tutorialUrl)));
    }
}

void AppDelegate::openWebsite()
{
    if (m_services.openUrl) {
        m_services.openUrl(QUrl(fromView(config::websiteUrl)));
    }
}

void AppDelegate::openSupportMail()
{
    const QUrl url(supportMailURLString(), QUrl::StrictMode);
    if (url.isValid() && m_services.openUrl) {
        m_services.openUrl(url);
    }
}

void AppDelegate::showAboutBox()
{
    const QString name = applicationName();
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) {
        version = QStringLiteral("?");
    }
    const QString website = fromView(config::websiteUrl).toHtmlEscaped();
    const QString text =
        QStringLiteral("<h3>%1</h3><p>%2</p><p><a href=\"%3\">%3</a></p>")
            .arg(name.toHtmlEscaped(),
                 QString::fromStdString(
                     i18n::fill(versionKey, {version.toStdString(), std::string(config::build)}))
                     .toHtmlEscaped(),
                 website);
    // As QMessageBox::about() builds it (the application's icon, the text),
    // but its OK button without the style's old "dialog-ok" picture.
    QMessageBox box(m_mainWindow);
    box.setWindowTitle(viewmodel::texts::fill(aboutKey, name));
    box.setTextFormat(Qt::RichText);
    box.setText(text);
    const QIcon icon = QGuiApplication::windowIcon();
    if (!icon.isNull()) {
        box.setIconPixmap(icon.pixmap(QSize(64, 64), box.devicePixelRatioF()));
    }
    box.setStandardButtons(QMessageBox::Ok);
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
        ok->setIcon(QIcon());
    }
    box.exec();
}

} // namespace vellico::app
