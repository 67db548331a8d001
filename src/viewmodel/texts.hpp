#pragma once

#include "analysis/status_text.hpp"
#include "model/target_folder_rule.hpp"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <string_view>

class QCoreApplication;

// The view model's user texts. Every text goes through Qt's translation
// lookup in the context "Vellico" with the French text (or a descriptive key
// such as "Render Files — aide") as source; with no catalogue entry the
// source itself is shown. Texts with an inserted value use %1 in the key and
// are filled after the lookup, in one pass (an inserted name holding "%2" is
// shown as it is). GUI thread, like the translators.
namespace vellico::viewmodel::texts {

inline constexpr const char* context = "Vellico";

// The translation of `key`, or `key` itself when the catalogue has none.
QString translate(std::string_view key);

// The translation of `key` with %1 replaced by `value`.
QString fill(std::string_view key, const QString& value);

// An analysis progress text, translated and filled.
QString statusText(const analysis::StatusText& status);

// Looks keys up in the translation catalogue, for the core's tooltip texts.
model::TextLookup textLookup();

// Display form of a path or name made of bytes (invalid UTF-8 replaced).
QString pathText(const std::filesystem::path& path);
QString displayText(std::string_view bytes);

// The messages, their keys, and what they insert.
QString aliasUnresolvable(const QString& aliasName); // the dropped item's name without extension
QString notALibrary(const QString& name); // full name, or display name after the extension check
QString lockedLibrary(const QString& displayName);
QString backupWithoutOriginal(const QString& displayName);
QString downloadCouldNotStart(const QString& displayName);
QString downloadFailed(const QString& errorDescription);
QString downloadingStatus();
QString deletionRefused(const QString& libraryName);
// The line under the library summary when folders could not be read.
QString unreadableFolders(std::size_t count);

// Loads the application's catalogues: French first, then the user's first
// UI language when a catalogue exists for it, so that a text missing there
// falls back to French, then to the key; also Qt's own French texts. The
// translators are children of `app`. Returns false when the French
// catalogue could not be loaded.
bool installTranslations(QCoreApplication& app);

} // namespace vellico::viewmodel::texts
