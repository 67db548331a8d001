#pragma once

#include <string>
#include <string_view>

namespace vellico::model {

// `text` (a name or a path: bytes, usually UTF-8) made safe to print on a
// terminal, as `ls -b` shows names: every byte that could steer the terminal
// is written as a backslash and three octal digits. That covers the C0
// controls and DEL ("\033" for ESC, "\012" for a line feed), the C1 controls
// (U+0080 to U+009F, e.g. "\302\233" for the CSI), the bidirectional and line
// separator controls that reorder or break a line, and every byte of
// invalid UTF-8. A backslash itself becomes "\\", so the output always reads
// back to one name. Printable text, accents included, passes unchanged.
std::string escapedForTerminal(std::string_view text);

// True when the code point must never reach a display raw: C0 and C1
// controls, DEL, and the invisible controls that reorder or split a line
// (U+200E, U+200F, U+2028, U+2029, U+202A to U+202E, U+2066 to U+2069).
bool isControlCodePoint(char32_t codePoint);

} // namespace vellico::model
