#pragma once

#include "analysis/library_intake.hpp"
#include "analysis/status_text.hpp"
#include "cli/command_line.hpp"
#include "model/byte_count_format.hpp"

#include <string>
#include <string_view>

// The command line's French texts: the display texts behind the shared
// localisation keys (help texts, group labels, progress), the byte units, and
// the intake messages.
namespace vellico::cli {

// Display text of a localisation key; the key itself when the table has none.
std::string lookup(std::string_view key);

// The text of `key` looked up, its %1, %2… placeholders filled with `args`.
// Every user text of the command line goes through here (or `lookup`), so
// that the keys are the one list to translate.
std::string say(std::string_view key, std::initializer_list<std::string_view> args = {});

// The usage text: the global one for `Command::none`, a command's own
// otherwise (options, exit statuses).
std::string usageText(Command command);

const model::ByteUnits& byteUnits();

std::string formatBytes(std::int64_t bytes);

// The status text, translated, its arguments inserted.
std::string statusText(const analysis::StatusText& status);

// The user message for an item the intake refused.
std::string intakeMessage(const analysis::IntakeError& error);

} // namespace vellico::cli
