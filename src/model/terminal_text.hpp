#pragma once

#include <cstddef>
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

// Columns one code point takes on a terminal: two for wide (East Asian)
// characters, none for combining marks, controls and other zero-width code
// points, one for the rest.
std::size_t columnWidth(char32_t codePoint);

// Columns `text` takes on a terminal: the sum of its code points' widths.
// Bytes that are not UTF-8 count one each (they are shown escaped or as a
// replacement character, one column either way).
std::size_t displayWidth(std::string_view text);

} // namespace vellico::model
