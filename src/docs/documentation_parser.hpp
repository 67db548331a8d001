#pragma once

#include "docs/doc_block.hpp"

#include <string_view>
#include <vector>

namespace vellico::docs {

// Turns a help text into its flat list of blocks. The text is read line by
// line (only LF ends a line, so a CR-LF file leaves a CR at the end of each
// line); each line is trimmed of blanks and tabs and then, first rule first:
//   "### ", "## ", "# " + title   heading of level 3, 2, 1 (title as written,
//                                 further blanks kept, never formatted)
//   exactly "---"                 separator
//   "- " + text                   list item (inline Markdown)
//   empty                         ends the paragraph
//   anything else                 joins the pending paragraph with one blank
// A heading, separator or list item also ends the pending paragraph. A
// paragraph or list item the inline parser rejects is left out; the blocks
// around it stay. Never fails; any bytes are accepted.
std::vector<DocBlock> parseDocumentation(std::string_view text);

} // namespace vellico::docs
