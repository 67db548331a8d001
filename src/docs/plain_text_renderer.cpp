#include "docs/plain_text_renderer.hpp"

#include "model/terminal_text.hpp"
#include "model/utf8.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vellico::docs {

namespace {

using model::appendUtf8;

// Characters a line must not begin with (closing punctuation), so that a
// wrap between wide characters never leaves "。" or "）" at a line start.
bool noBreakBefore(std::int32_t cp)
{
    static constexpr std::u32string_view closers =
        U"、。，．！？：；）」』】〉》〕］｝…ー・,.!?:;)]}";
    return closers.find(static_cast<char32_t>(cp)) != std::u32string_view::npos;
}

struct Glyph {
    std::int32_t cp;
    int width;
};

// Decodes text for the terminal: CR and other controls dropped (a tab and a
// line feed kept as blank and line break), invalid bytes as U+FFFD.
std::vector<Glyph> glyphs(std::string_view text)
{
    std::vector<Glyph> out;
    auto* at = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(at, static_cast<utf8proc_ssize_t>(left), &cp);
        if (n <= 0) {
            cp = 0xFFFD;
            n = 1;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
        if (cp == '\t') {
            cp = ' ';
        }
        const auto category = utf8proc_category(cp);
        if (cp != '\n' && (category == UTF8PROC_CATEGORY_CC || cp == 0x2028 || cp == 0x2029)) {
            continue;
        }
        out.push_back({cp, static_cast<int>(model::columnWidth(static_cast<char32_t>(cp)))});
    }
    return out;
}

int displayWidth(std::string_view text)
{
    return static_cast<int>(model::displayWidth(text));
}

// A piece that is never split across lines.
struct Word {
    std::string text;
    int width = 0;
    bool blankBefore = false;
};

// Greedy filling: words go on a line while they fit; a word wider than the
// line gets a line of its own. `first` starts the first line, `rest` the
// others (hanging indent of list items).
void wrapInto(std::string& out, std::string_view text, int width, std::string_view first,
              std::string_view rest)
{
    std::vector<std::vector<Word>> lines(1);
    Word current;
    bool blank = false;
    bool lastWide = false;
    auto endWord = [&] {
        if (!current.text.empty()) {
            lines.back().push_back(std::move(current));
        }
        current = Word{};
    };
    for (const Glyph& g : glyphs(text)) {
        if (g.cp == '\n') {
            endWord();
            lines.emplace_back();
            blank = false;
            continue;
        }
        if (g.cp == ' ') {
            endWord();
            blank = true;
            continue;
        }
        const bool wide = g.width == 2;
        if (!current.text.empty() && (wide || lastWide) && !noBreakBefore(g.cp)) {
            endWord();
        }
        if (current.text.empty()) {
            current.blankBefore = blank;
            blank = false;
        }
        appendUtf8(current.text, g.cp);
        current.width += g.width;
        lastWide = wide;
    }
    endWord();

    bool firstLine = true;
    for (const std::vector<Word>& words : lines) {
        std::string_view indent = firstLine ? first : rest;
        std::string line(indent);
        int used = displayWidth(indent);
        const int start = used;
        for (const Word& word : words) {
            const int gap = (used > start && word.blankBefore) ? 1 : 0;
            if (used > start && used + gap + word.width > width) {
                out += line;
                out += '\n';
                line = std::string(rest);
                used = displayWidth(rest);
            } else if (gap) {
                line += ' ';
                ++used;
            }
            line += word.text;
            used += word.width;
            firstLine = false;
        }
        out += line;
        out += '\n';
        firstLine = false;
    }
}

// True when the link's text already says where it leads: the same text,
// or a mail address whose mailto link may carry a subject and body.
bool linkTextIsAddress(std::string_view text, std::string_view href)
{
    if (text == href) {
        return true;
    }
    if (href.starts_with("mailto:")) {
        href.remove_prefix(7);
        return href.substr(0, href.find('?')) == text;
    }
    return false;
}

} // namespace

std::string plainTextWithLinks(const InlineText& runs)
{
    std::string out;
    for (std::size_t i = 0; i < runs.size();) {
        if (runs[i].href.empty()) {
            out += runs[i].text;
            ++i;
            continue;
        }
        // Runs of one link differ only in emphasis; gather its whole text.
        const std::string& href = runs[i].href;
        std::string text;
        for (; i < runs.size() && runs[i].href == href; ++i) {
            text += runs[i].text;
        }
        out += text;
        if (!linkTextIsAddress(text, href)) {
            out += text.empty() ? "<" : " <";
            out += href;
            out += '>';
        }
    }
    return out;
}

std::string renderPlainText(const std::vector<DocBlock>& blocks, int width)
{
    width = std::max(width, 20);
    std::string out;
    const DocBlock* previous = nullptr;
    for (const DocBlock& block : blocks) {
        const bool listContinues = previous && previous->kind == DocBlockKind::listItem &&
                                   block.kind == DocBlockKind::listItem;
        if (previous && !listContinues) {
            out += '\n';
        }
        if (previous && block.kind == DocBlockKind::heading2) {
            out += '\n';
        }
        switch (block.kind) {
        case DocBlockKind::heading1:
        case DocBlockKind::heading2: {
            const std::size_t before = out.size();
            wrapInto(out, block.text, width, "", "");
            // Underline the longest line of the heading.
            int longest = 0;
            std::string_view written(out.data() + before, out.size() - before);
            while (!written.empty()) {
                const std::size_t end = written.find('\n');
                longest = std::max(longest, displayWidth(written.substr(0, end)));
                written.remove_prefix(end == std::string_view::npos ? written.size() : end + 1);
            }
            out.append(static_cast<std::size_t>(std::max(longest, 1)),
                       block.kind == DocBlockKind::heading1 ? '=' : '-');
            out += '\n';
            break;
        }
        case DocBlockKind::heading3:
            wrapInto(out, block.text, width, "", "");
            break;
        case DocBlockKind::paragraph:
            wrapInto(out, plainTextWithLinks(block.inlineText), width, "", "");
            break;
        case DocBlockKind::listItem:
            wrapInto(out, plainTextWithLinks(block.inlineText), width, "  \u2022 ", "    ");
            break;
        case DocBlockKind::separator:
            out += "* * *\n";
            break;
        }
        previous = &block;
    }
    return out;
}

} // namespace vellico::docs
