#include "viewmodel/texts.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vellico::viewmodel::texts {

namespace {

// Keys with an inserted value, as the catalogue knows them. Marked for
// lupdate; the translation happens at run time through translate().
constexpr const char* aliasKey =
    QT_TRANSLATE_NOOP("Vellico", "alias - résolution impossible « %1 »");
constexpr const char* notALibraryKey =
    QT_TRANSLATE_NOOP("Vellico", "« %1 » n'est pas une bibliothèque Final Cut Pro valide.");
constexpr const char* lockedKey = QT_TRANSLATE_NOOP(
    "Vellico", "« %1 » est verrouillée. Déverrouillez-la dans le Finder avant de continuer.");
constexpr const char* backupKey = QT_TRANSLATE_NOOP(
    "Vellico", "« %1 » est une sauvegarde, mais la bibliothèque originale est introuvable.");
constexpr const char* downloadStartKey =
    QT_TRANSLATE_NOOP("Vellico", "Impossible de lancer le téléchargement de « %1 » depuis iCloud.");
constexpr const char* downloadFailedKey =
    QT_TRANSLATE_NOOP("Vellico", "Échec du téléchargement iCloud : %1");
constexpr const char* downloadingKey =
    QT_TRANSLATE_NOOP("Vellico", "Téléchargement depuis iCloud\u2026");
constexpr const char* deletionRefusedKey = QT_TRANSLATE_NOOP(
    "Vellico", "Impossible de supprimer : « %1 » est maintenant ouverte dans Final Cut Pro.");

} // namespace

QString translate(std::string_view key)
{
    const std::string owned(key); // translate() wants a terminated string
    return QCoreApplication::translate(context, owned.c_str());
}

QString fill(std::string_view key, const QString& value)
{
    return translate(key).arg(value);
}

QString statusText(const analysis::StatusText& status)
{
    const analysis::StatusText translated{translate(status.key).toStdString(), status.args};
    return QString::fromStdString(translated.formatted());
}

model::TextLookup textLookup()
{
    return [](std::string_view key) { return translate(key).toStdString(); };
}

QString pathText(const std::filesystem::path& path)
{
    return displayText(std::string_view(path.native()));
}

QString displayText(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString aliasUnresolvable(const QString& aliasName)
{
    return fill(aliasKey, aliasName);
}

QString notALibrary(const QString& name)
{
    return fill(notALibraryKey, name);
}

QString lockedLibrary(const QString& displayName)
{
    return fill(lockedKey, displayName);
}

QString backupWithoutOriginal(const QString& displayName)
{
    return fill(backupKey, displayName);
}

QString unreadableFolders(std::size_t count)
{
    return fill("Dossiers illisibles : %1, comptés pour zéro ; la taille est incomplète.",
                QString::number(count));
}

QString downloadCouldNotStart(const QString& displayName)
{
    return fill(downloadStartKey, displayName);
}

QString downloadFailed(const QString& errorDescription)
{
    return fill(downloadFailedKey, errorDescription);
}

QString downloadingStatus()
{
    return translate(downloadingKey);
}

QString deletionRefused(const QString& libraryName)
{
    return fill(deletionRefusedKey, libraryName);
}

bool installTranslations(QCoreApplication& app)
{
    // Installed last is searched first: French goes in first, so it is the
    // fallback of whatever the user's language lacks.
    auto* french = new QTranslator(&app);
    const bool loaded = french->load(QStringLiteral(":/i18n/vellico_fr.qm"));
    if (loaded) {
        QCoreApplication::installTranslator(french);
    } else {
        delete french;
    }
    auto* qtFrench = new QTranslator(&app);
    if (qtFrench->load(QStringLiteral("qtbase_fr"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtFrench);
    } else {
        delete qtFrench;
    }
    const QStringList languages = QLocale::system().uiLanguages();
    if (!languages.isEmpty()) {
        const QString language = QLocale(languages.first()).name().section(QLatin1Char('_'), 0, 0);
        if (language != QLatin1String("fr") && language != QLatin1String("C")) {
            auto* user = new QTranslator(&app);
            if (user->load(QStringLiteral(":/i18n/vellico_%1.qm").arg(language))) {
                QCoreApplication::installTranslator(user);
            } else {
                delete user;
            }
        }
    }
    return loaded;
}

} // namespace vellico::viewmodel::texts
