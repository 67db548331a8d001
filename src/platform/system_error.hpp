#pragma once

#include <string>

namespace vellico::platform {

// The system's description of an error number in the language of the
// process's current locale (LC_MESSAGES, after the program has called
// setlocale(LC_ALL, "")). Thread-safe.
std::string systemErrorText(int errorNumber);

} // namespace vellico::platform
