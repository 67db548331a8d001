#pragma once

#include "docs/doc_block.hpp"

#include <optional>
#include <string_view>

namespace vellico::docs {

// Parses `text` as inline Markdown only (CommonMark emphasis, strong
// emphasis, code spans, links and autolinks; raw HTML is plain text) into
// runs. Nothing in it is read as a block: "# a", "> a", "1. a" or "***" are
// text, and blanks and line breaks stay as written. Character references
// (&amp;, &#233;, &#xE9;) are decoded; a name this parser does not know is
// kept as written. None when the text is rejected: larger than 16 MiB, or
// beyond what the Markdown parser accepts.
std::optional<InlineText> parseInlineMarkdown(std::string_view text);

} // namespace vellico::docs
