#include "docs/documentation_parser.hpp"

#include "docs/inline_markdown.hpp"

#include <string>

namespace vellico::docs {

std::string plainText(const InlineText& runs)
{
    std::string text;
    for (const InlineRun& run : runs) {
        text += run.text;
    }
    return text;
}

DocBlock DocBlock::heading(int level, std::string title)
{
    const DocBlockKind kind = level <= 1   ? DocBlockKind::heading1
                              : level == 2 ? DocBlockKind::heading2
                                           : DocBlockKind::heading3;
    return DocBlock{kind, std::move(title), {}};
}

DocBlock DocBlock::paragraph(InlineText runs)
{
    return DocBlock{DocBlockKind::paragraph, {}, std::move(runs)};
}

DocBlock DocBlock::listItem(InlineText runs)
{
    return DocBlock{DocBlockKind::listItem, {}, std::move(runs)};
}

DocBlock DocBlock::separator()
{
    return DocBlock{DocBlockKind::separator, {}, {}};
}

namespace {

// Blanks and tabs only: a CR is part of the line's text.
std::string_view trimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

class Parser {
public:
    void line(std::string_view raw)
    {
        const std::string_view line = trimBlanks(raw);
        if (line.starts_with("### ")) {
            heading(3, line.substr(4));
        } else if (line.starts_with("## ")) {
            heading(2, line.substr(3));
        } else if (line.starts_with("# ")) {
            heading(1, line.substr(2));
        } else if (line == "---") {
            flush();
            m_blocks.push_back(DocBlock::separator());
        } else if (line.starts_with("- ")) {
            flush();
            if (auto runs = parseInlineMarkdown(line.substr(2))) {
                m_blocks.push_back(DocBlock::listItem(std::move(*runs)));
            }
        } else if (line.empty()) {
            flush();
        } else {
            m_pending.emplace_back(line);
        }
    }

    std::vector<DocBlock> finish()
    {
        flush();
        return std::move(m_blocks);
    }

private:
    void heading(int level, std::string_view title)
    {
        flush();
        m_blocks.push_back(DocBlock::heading(level, std::string(title)));
    }

    // Ends the pending paragraph: its lines joined by one blank, trimmed,
    // parsed; nothing when it is empty or rejected.
    void flush()
    {
        std::string joined;
        for (const std::string& pendingLine : m_pending) {
            if (!joined.empty()) {
                joined += ' ';
            }
            joined += pendingLine;
        }
        m_pending.clear();
        const std::string_view trimmed = trimBlanks(joined);
        if (trimmed.empty()) {
            return;
        }
        if (auto runs = parseInlineMarkdown(trimmed)) {
            m_blocks.push_back(DocBlock::paragraph(std::move(*runs)));
        }
    }

    std::vector<std::string> m_pending;
    std::vector<DocBlock> m_blocks;
};

} // namespace

std::vector<DocBlock> parseDocumentation(std::string_view text)
{
    Parser parser;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            parser.line(text.substr(start));
            break;
        }
        parser.line(text.substr(start, end - start));
        start = end + 1;
    }
    return parser.finish();
}

} // namespace vellico::docs
