#pragma once

#include "analysis/library_intake.hpp"
#include "analysis/status_text.hpp"
#include "model/byte_count_format.hpp"
#include "model/found_folder.hpp"

#include <string>
#include <string_view>

// The command line's French texts: the display texts behind the shared
// localisation keys (help texts, group labels, progress), the byte units, and
// the intake messages.
namespace vellico::cli {

// Display text of a localisation key; the key itself when the table has none.
std::string lookup(std::string_view key);

const model::ByteUnits& byteUnits();

std::string formatBytes(std::int64_t bytes);

// The status text, translated, its arguments inserted.
std::string statusText(const analysis::StatusText& status);

// The user message for an item the intake refused.
std::string intakeMessage(const analysis::IntakeError& error);

// The warning for something the analysis left out on purpose.
std::string noticeMessage(const model::AnalysisNotice& notice);

} // namespace vellico::cli
