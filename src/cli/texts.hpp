#pragma once

#include "analysis/library_intake.hpp"
#include "analysis/status_text.hpp"
#include "cli/command_line.hpp"
#include "model/byte_count_format.hpp"
#include "model/found_folder.hpp"

#include <initializer_list>
#include <string>
#include <string_view>

// The command line's texts, from the same catalogues as the window's (see
// i18n/translations.hpp): every user text is a catalogue key, French or
// descriptive, looked up in the user's language.
namespace vellico::cli {

// Display text of a catalogue key; the key itself when no catalogue has it.
std::string lookup(std::string_view key);

// The text of `key` looked up, its %1, %2… placeholders filled with `args`.
// Every user text of the command line goes through here (or `lookup`), so
// that the keys are the one list to translate.
std::string say(std::string_view key, std::initializer_list<std::string_view> args = {});

// The usage text: the global one for `Command::none`, a command's own
// otherwise (options, exit statuses).
std::string usageText(Command command);

// The display text of `key` with %1, %2… replaced by `args`.
std::string fill(std::string_view key, std::initializer_list<std::string> args);

std::string formatBytes(std::int64_t bytes);

// The status text, translated, its arguments inserted.
std::string statusText(const analysis::StatusText& status);

// The user message for an item the intake refused.
std::string intakeMessage(const analysis::IntakeError& error);

// The warning for an external cache that is not where the settings say.
std::string missingCacheMessage(const std::string& cachePath);

// The warning for something the analysis left out on purpose.
std::string noticeMessage(const model::AnalysisNotice& notice);
// Chooses the language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG) and installs its catalogues. Called once by main() before any thread.
void useEnvironmentLanguage();

} // namespace vellico::cli
