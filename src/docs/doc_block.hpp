#pragma once

#include <string>
#include <vector>

namespace vellico::docs {

// One stretch of inline text with the same formatting. `href` is the link
// destination exactly as written in the help file (empty: not a link); a
// relative destination stays relative.
struct InlineRun {
    std::string text;
    bool em = false;
    bool strong = false;
    bool code = false;
    std::string href;

    bool operator==(const InlineRun&) const = default;
};

// Formatted text of a paragraph or a list item: runs in reading order, no
// empty run, no two neighbours with the same formatting.
using InlineText = std::vector<InlineRun>;

// The text of the runs without their formatting.
std::string plainText(const InlineText& runs);

enum class DocBlockKind { heading1, heading2, heading3, paragraph, listItem, separator };

// One block of a help document. Headings carry plain `text` (never parsed for
// formatting); paragraphs and list items carry `inlineText`; a separator
// carries nothing. Blocks do not nest: a heading does not own what follows.
struct DocBlock {
    DocBlockKind kind = DocBlockKind::paragraph;
    std::string text;
    InlineText inlineText;

    static DocBlock heading(int level, std::string title);
    static DocBlock paragraph(InlineText runs);
    static DocBlock listItem(InlineText runs);
    static DocBlock separator();

    bool operator==(const DocBlock&) const = default;
};

} // namespace vellico::docs
