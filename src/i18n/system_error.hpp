#pragma once

#include <string>

namespace vellico::i18n {

// The description of an error number in the user's language: for the
// errors a reading or a removal meets (ENOENT, EACCES, EBUSY, EROFS…) our own
// catalogue's text, from the installed translations; for any other, or when
// none are installed, the system's (in the language of the current locale,
// LC_MESSAGES, after setlocale(LC_ALL, "")). Thread-safe.
std::string systemErrorText(int errorNumber);

} // namespace vellico::i18n
