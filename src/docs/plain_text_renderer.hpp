#pragma once

#include "docs/doc_block.hpp"

#include <string>
#include <vector>

namespace vellico::docs {

// The blocks as plain text for a terminal, lines wrapped to `width` columns
// (East Asian wide characters count two): a level-1 heading underlined with
// "=", a level-2 heading set off by a blank line and underlined with "-", a
// level-3 heading on its own line, paragraphs, list items as "  • " with a
// hanging indent, a separator as "* * *". Emphasis is dropped; a link shows as
// "text <url>", or as its text alone when the text already is the address.
// Control characters are removed and invalid UTF-8 shows as U+FFFD, so the
// output cannot drive the terminal.
std::string renderPlainText(const std::vector<DocBlock>& blocks, int width = 78);

// One inline text as a single line of plain text, links as "text <url>".
std::string plainTextWithLinks(const InlineText& runs);

} // namespace vellico::docs
