#include "viewmodel/texts.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_intake.hpp"
#include "i18n/system_error.hpp"

#include "i18n/translations.hpp"
#include "model/terminal_text.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

#include <cstdlib>
#include <vector>

namespace vellico::viewmodel::texts {

namespace {

// Keys with an inserted value, as the catalogue knows them. Marked for
// lupdate; the translation happens at run time through translate().
constexpr const char* downloadStartKey =
    QT_TRANSLATE_NOOP("Vellico", "Impossible de lancer le téléchargement de « %1 » depuis iCloud.");
constexpr const char* downloadFailedKey =
    QT_TRANSLATE_NOOP("Vellico", "Échec du téléchargement iCloud : %1");
constexpr const char* downloadingKey =
    QT_TRANSLATE_NOOP("Vellico", "Téléchargement depuis iCloud\u2026");
constexpr const char* deletionRefusedKey = QT_TRANSLATE_NOOP(
    "Vellico", "Impossible de supprimer : « %1 » est maintenant ouverte dans Final Cut Pro.");
constexpr const char* unsafeLockFileKey =
    QT_TRANSLATE_NOOP("Vellico", "Impossible de supprimer : le fichier de verrou « .lock » de "
                                 "« %1 » n'est pas un fichier ordinaire. Rien n'a été supprimé.");
constexpr const char* lockFileUnreadableKey =
    QT_TRANSLATE_NOOP("Vellico", "Impossible de supprimer : le fichier de verrou « .lock » de "
                                 "« %1 » ne peut pas être ouvert (%2). Rien n'a été supprimé.");
constexpr const char* unreachableKey = QT_TRANSLATE_NOOP(
    "Vellico",
    "Impossible de supprimer : « %1 » ne peut plus être ouverte. Rien n'a été supprimé.");

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

QString count(std::string_view key, std::int64_t n)
{
    return QString::fromStdString(i18n::fillPlural(key, n));
}

QString count(std::string_view key, std::int64_t n, std::initializer_list<QString> others)
{
    std::vector<std::string> args{i18n::formatCount(n)};
    for (const QString& other : others) {
        args.push_back(other.toStdString());
    }
    return QString::fromStdString(i18n::fillPlaceholders(i18n::plural(key, n), args));
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
    // Invalid UTF-8 becomes U+FFFD in fromUtf8. Control characters are made
    // visible: C0 as their Control Pictures symbol (U+2400 + code, DEL as
    // U+2421), C1 and the invisible controls that reorder a line as U+FFFD,
    // so that a name can neither hide text nor fake another one.
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x20) {
            c = QChar(static_cast<char16_t>(0x2400 + unit));
        } else if (unit == 0x7F) {
            c = QChar(static_cast<char16_t>(0x2421));
        } else if (model::isControlCodePoint(unit)) {
            c = QChar(QChar::ReplacementCharacter);
        }
    }
    return text;
}

// The intake's refusals come from the core, the one list the command line
// uses too; the window only translates them.
QString refusalText(const analysis::Refusal& refusal)
{
    using Kind = analysis::IntakeError::Kind;
    if (refusal.key == analysis::messageKey(Kind::missing) && !refusal.args.empty()) {
        // Nothing there: the window reports it as the library check would,
        // with the display name once the extension is right.
        const std::filesystem::path name(refusal.args.front());
        return fill(analysis::messageKey(Kind::notALibrary),
                    pathText(analysis::hasLibraryExtension(name) ? name.stem() : name));
    }
    std::vector<std::string> args;
    args.reserve(refusal.args.size());
    for (const std::string& arg : refusal.args) {
        args.push_back(displayText(arg).toStdString());
    }
    return QString::fromStdString(
        i18n::fillPlaceholders(translate(refusal.key).toStdString(), args));
}

QString notALibrary(const QString& name)
{
    return fill(analysis::messageKey(analysis::IntakeError::Kind::notALibrary), name);
}

QString unreadableFolders(std::size_t count)
{
    return fill("Dossiers illisibles : %1, comptés pour zéro ; la taille est incomplète.",
                QString::number(count));
}

QString unreadableFolderList(const std::vector<model::UnreadableFolder>& folders)
{
    constexpr std::size_t shown = 10;
    QStringList lines;
    for (std::size_t i = 0; i < folders.size() && i < shown; ++i) {
        const model::UnreadableFolder& folder = folders[i];
        const QString reason = folder.error != 0
                                   ? QString::fromStdString(i18n::systemErrorText(folder.error))
                                   : translate(analysis::movedWhileMeasuredKey);
        lines << pathText(folder.path) + QStringLiteral(" (") + reason + QStringLiteral(")");
    }
    if (folders.size() > shown) {
        lines << QStringLiteral("\u2026");
    }
    return lines.join(QLatin1Char('\n'));
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

QString removalFailure(const cleanup::DeletionFailure& failure)
{
    const std::string_view key = cleanup::messageKey(failure.detail.problem);
    if (key.empty()) {
        return displayText(failure.error);
    }
    return fill(key, pathText(failure.detail.path));
}

QString claimRefused(cleanup::ClaimRefusal refusal, const QString& libraryName, int error)
{
    switch (refusal) {
    case cleanup::ClaimRefusal::lockFileUnreadable:
        return translate(lockFileUnreadableKey)
            .arg(libraryName, displayText(cleanup::systemErrorText(error)));
    case cleanup::ClaimRefusal::unsafeLockFile:
        return fill(unsafeLockFileKey, libraryName);
    case cleanup::ClaimRefusal::unreachable:
        return fill(unreachableKey, libraryName);
    case cleanup::ClaimRefusal::heldByEditor:
    case cleanup::ClaimRefusal::none:
        break;
    }
    return deletionRefused(libraryName);
}

CatalogueTranslator::CatalogueTranslator(QObject* parent) : QTranslator(parent) {}

QString CatalogueTranslator::translate(const char* /*context*/, const char* sourceText,
                                       const char* /*disambiguation*/, int n) const
{
    if (sourceText == nullptr) {
        return {};
    }
    const i18n::Translations& translations = i18n::active();
    const std::string* found =
        n >= 0 ? translations.findPlural(sourceText, n) : translations.find(sourceText);
    return found ? QString::fromStdString(*found) : QString();
}

bool CatalogueTranslator::isEmpty() const
{
    return false;
}

QLocale localeFor(i18n::Language language)
{
    switch (language) {
    case i18n::Language::french:
        return QLocale(QLocale::French, QLocale::France);
    case i18n::Language::english:
        return QLocale(QLocale::English, QLocale::UnitedStates);
    case i18n::Language::german:
        return QLocale(QLocale::German, QLocale::Germany);
    case i18n::Language::spanish:
        return QLocale(QLocale::Spanish, QLocale::Spain);
    case i18n::Language::japanese:
        return QLocale(QLocale::Japanese, QLocale::Japan);
    case i18n::Language::chinese:
        return QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    }
    return QLocale::c();
}

bool installTranslations(QCoreApplication& app)
{
    const i18n::Language language =
        i18n::chooseLanguage([](const char* name) { return std::getenv(name); });
    i18n::install(i18n::loadTranslations(language, i18n::catalogueDirectories()));
    QLocale::setDefault(localeFor(language));
    // Qt's own texts (the open panel, message boxes) from Qt's catalogues;
    // installed first, so the application's translator is asked before them.
    const QString qtName =
        QStringLiteral("qtbase_") +
        QString::fromUtf8(i18n::catalogueName(language).data(),
                          static_cast<qsizetype>(i18n::catalogueName(language).size()));
    auto* qt = new QTranslator(&app);
    if (qt->load(qtName, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
    QCoreApplication::installTranslator(new CatalogueTranslator(&app));
    return i18n::active().find("intro - titre") != nullptr;
}

} // namespace vellico::viewmodel::texts
