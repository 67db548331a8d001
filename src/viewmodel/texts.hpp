#pragma once

#include "analysis/intake_refusal.hpp"
#include "analysis/status_text.hpp"
#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "i18n/language.hpp"
#include "model/found_folder.hpp"
#include "model/target_folder_rule.hpp"

#include <QLocale>
#include <QString>
#include <QTranslator>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>

class QCoreApplication;

// The view model's user texts. Every text goes through Qt's translation
// lookup in the context "Vellico" with the French text (or a descriptive key
// such as "Render Files — aide") as source, which CatalogueTranslator answers
// from the shared catalogues; with no catalogue entry the source itself is
// shown. Texts with an inserted value use %1 in the key and
// are filled after the lookup, in one pass (an inserted name holding "%2" is
// shown as it is). GUI thread, like the translators.
namespace vellico::viewmodel::texts {

inline constexpr const char* context = "Vellico";

// The translation of `key`, or `key` itself when the catalogue has none.
QString translate(std::string_view key);

// The translation of `key` with %1 replaced by `value`.
QString fill(std::string_view key, const QString& value);

// The plural form of `key` for `n`, with %1 replaced by `n` in the
// language's digits.
QString count(std::string_view key, std::int64_t n);
// The same with %2… replaced by `others`, in one pass.
QString count(std::string_view key, std::int64_t n, std::initializer_list<QString> others);

// An analysis progress text, translated and filled.
QString statusText(const analysis::StatusText& status);

// Looks keys up in the translation catalogue, for the core's tooltip texts.
model::TextLookup textLookup();

// Display form of a path or name made of bytes: invalid UTF-8 replaced, and
// control characters shown as visible symbols, never passed raw to a label.
QString pathText(const std::filesystem::path& path);
QString displayText(std::string_view bytes);

// The messages, their keys, and what they insert.
QString refusalText(const analysis::Refusal& refusal);
QString notALibrary(const QString& name); // full name, or display name after the extension check
QString downloadCouldNotStart(const QString& displayName);
QString downloadFailed(const QString& errorDescription);
QString downloadingStatus();
QString deletionRefused(const QString& libraryName);
// Why the library could not be claimed for a deletion: the editor holds it,
// its ".lock" is not a regular file, or the bundle can no longer be opened.
QString claimRefused(cleanup::ClaimRefusal refusal, const QString& libraryName, int error = 0);
// Why one folder was not removed: our own text for our own refusals, the
// system's otherwise.
QString removalFailure(const cleanup::DeletionFailure& failure);
// The line under the library summary when folders could not be read.
QString unreadableFolders(std::size_t count);
// The first folders that could not be read, one a line, each with why.
QString unreadableFolderList(const std::vector<model::UnreadableFolder>& folders);

// Qt's side of the catalogues: answers every tr() and translate() call whose
// source text is a catalogue key, from the translations installed in the
// core (i18n::active()), and leaves every other text (Qt's own) to the
// translators installed before it. With n >= 0 the plural form for n.
class CatalogueTranslator : public QTranslator {
public:
    explicit CatalogueTranslator(QObject* parent = nullptr);
    QString translate(const char* contextName, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override;
};

// The Qt locale that writes numbers and dates like `language`.
QLocale localeFor(i18n::Language language);

// Chooses the language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), installs its catalogues in the core, makes its locale Qt's
// default, and installs Qt's own catalogue for it and a
// CatalogueTranslator, children of `app`. Once, on the GUI thread, before
// any worker starts. Returns false when the French catalogue (which holds
// the display texts of the descriptive keys) could not be found.
bool installTranslations(QCoreApplication& app);

} // namespace vellico::viewmodel::texts
