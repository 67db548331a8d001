#include "docs/inline_markdown.hpp"

#include "model/utf8.hpp"

#include <md4c.h>

#include <array>
#include <cstdint>
#include <string>

namespace vellico::docs {

namespace {

using model::appendUtf8;

// md4c keeps sizes in 32 bits; help texts are far smaller than this.
constexpr std::size_t maxInlineBytes = 16u * 1024 * 1024;

constexpr std::string_view noBreakSpace = "\xC2\xA0";

// md4c has no inline-only mode. A no-break space in front of the text makes
// its first line an ordinary paragraph line whatever it starts with ("# ",
// "> ", "1. ", "***", four blanks). Line breaks inside the text would start
// new lines that may open blocks, so each CR and LF is swapped for a rare
// Unicode space before parsing and swapped back in the runs. A Unicode space
// (category Zs) counts as whitespace where emphasis is matched, as the line
// break it stands for would, but md4c never trims or collapses it.
constexpr std::array<std::string_view, 12> sentinelCandidates{
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x8A", "\xE2\x81\x9F", "\xE1\x9A\x80",
};

struct Sentinels {
    std::string_view cr;
    std::string_view lf;
};

// Picks a stand-in for CR and one for LF among the candidates that do not
// occur in the text. False when the text holds every candidate.
bool chooseSentinels(std::string_view text, Sentinels& sentinels)
{
    const bool hasCr = text.find('\r') != std::string_view::npos;
    const bool hasLf = text.find('\n') != std::string_view::npos;
    std::string_view* wanted[2] = {hasCr ? &sentinels.cr : nullptr,
                                   hasLf ? &sentinels.lf : nullptr};
    std::size_t next = 0;
    for (std::string_view** slot = wanted; slot != wanted + 2; ++slot) {
        if (*slot == nullptr) {
            continue;
        }
        while (next < sentinelCandidates.size() &&
               text.find(sentinelCandidates[next]) != std::string_view::npos) {
            ++next;
        }
        if (next == sentinelCandidates.size()) {
            return false;
        }
        **slot = sentinelCandidates[next++];
    }
    return true;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    if (from.empty()) {
        return;
    }
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The named references a help text is likely to use. md4c hands over every
// well-formed "&name;"; one missing here is kept as written.
struct NamedEntity {
    std::string_view name;
    std::uint32_t cp;
};
constexpr NamedEntity namedEntities[] = {
    {"amp", 0x26},     {"lt", 0x3C},      {"gt", 0x3E},      {"quot", 0x22},    {"apos", 0x27},
    {"nbsp", 0xA0},    {"shy", 0xAD},     {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122},
    {"deg", 0xB0},     {"times", 0xD7},   {"middot", 0xB7},  {"bull", 0x2022},  {"hellip", 0x2026},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"euro", 0x20AC},  {"thinsp", 0x2009},
    {"larr", 0x2190},  {"rarr", 0x2192},  {"para", 0xB6},    {"sect", 0xA7},
};

void appendEntity(std::string& out, std::string_view entity)
{
    // entity is "&…;" as md4c recognised it.
    if (entity.size() < 3 || entity.front() != '&' || entity.back() != ';') {
        out += entity;
        return;
    }
    const std::string_view body = entity.substr(1, entity.size() - 2);
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > (hex ? 6u : 7u)) {
            appendUtf8(out, 0xFFFD);
            return;
        }
        std::uint32_t cp = 0;
        for (const char c : digits) {
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (hex && c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (hex && c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                out += entity;
                return;
            }
            cp = cp * (hex ? 16 : 10) + digit;
        }
        appendUtf8(out, cp == 0 ? 0xFFFD : cp); // "&#0;" is a replacement character too
        return;
    }
    for (const NamedEntity& named : namedEntities) {
        if (named.name == body) {
            appendUtf8(out, named.cp);
            return;
        }
    }
    out += entity;
}

// What md4c reports, gathered into runs. Any block other than the one
// paragraph, or text that does not begin with the no-break space put in
// front, marks the parse as failed.
struct Collector {
    InlineText runs;
    int em = 0;
    int strong = 0;
    int code = 0;
    std::vector<std::string> links; // destinations of the open links
    int paragraphs = 0;
    bool prefixStripped = false;
    bool failed = false;
    Sentinels sentinels;

    std::string restoreLineBreaks(std::string text) const
    {
        replaceAll(text, sentinels.cr, "\r");
        replaceAll(text, sentinels.lf, "\n");
        return text;
    }

    void append(std::string& text)
    {
        if (!prefixStripped) {
            if (!std::string_view(text).starts_with(noBreakSpace)) {
                failed = true;
                return;
            }
            text.erase(0, noBreakSpace.size());
            prefixStripped = true;
        }
        if (text.empty()) {
            return;
        }
        text = restoreLineBreaks(std::move(text));
        InlineRun run{std::move(text), em > 0, strong > 0, code > 0,
                      links.empty() ? std::string() : links.back()};
        if (!runs.empty()) {
            InlineRun& last = runs.back();
            if (last.em == run.em && last.strong == run.strong && last.code == run.code &&
                last.href == run.href) {
                last.text += run.text;
                return;
            }
        }
        runs.push_back(std::move(run));
    }
};

std::string attributeText(const MD_ATTRIBUTE& attribute)
{
    std::string out;
    if (attribute.text == nullptr) {
        return out;
    }
    for (unsigned i = 0; attribute.substr_offsets[i] < attribute.size; ++i) {
        const MD_OFFSET begin = attribute.substr_offsets[i];
        const MD_OFFSET end = attribute.substr_offsets[i + 1];
        const std::string_view piece(attribute.text + begin, end - begin);
        switch (attribute.substr_types[i]) {
        case MD_TEXT_ENTITY:
            appendEntity(out, piece);
            break;
        case MD_TEXT_NULLCHAR:
            appendUtf8(out, 0xFFFD);
            break;
        default:
            out += piece;
            break;
        }
    }
    return out;
}

int enterBlock(MD_BLOCKTYPE type, void*, void* userdata)
{
    auto* collector = static_cast<Collector*>(userdata);
    if (type == MD_BLOCK_DOC) {
        return 0;
    }
    if (type == MD_BLOCK_P && collector->paragraphs++ == 0) {
        return 0;
    }
    collector->failed = true;
    return 1; // stops md_parse
}

int leaveBlock(MD_BLOCKTYPE, void*, void*)
{
    return 0;
}

int enterSpan(MD_SPANTYPE type, void* detail, void* userdata)
{
    auto* collector = static_cast<Collector*>(userdata);
    switch (type) {
    case MD_SPAN_EM:
        ++collector->em;
        break;
    case MD_SPAN_STRONG:
        ++collector->strong;
        break;
    case MD_SPAN_CODE:
        ++collector->code;
        break;
    case MD_SPAN_A: {
        const auto* link = static_cast<const MD_SPAN_A_DETAIL*>(detail);
        collector->links.push_back(collector->restoreLineBreaks(attributeText(link->href)));
        break;
    }
    default: // images show their description as text
        break;
    }
    return 0;
}

int leaveSpan(MD_SPANTYPE type, void*, void* userdata)
{
    auto* collector = static_cast<Collector*>(userdata);
    switch (type) {
    case MD_SPAN_EM:
        --collector->em;
        break;
    case MD_SPAN_STRONG:
        --collector->strong;
        break;
    case MD_SPAN_CODE:
        --collector->code;
        break;
    case MD_SPAN_A:
        if (!collector->links.empty()) {
            collector->links.pop_back();
        }
        break;
    default:
        break;
    }
    return 0;
}

int onText(MD_TEXTTYPE type, const MD_CHAR* text, MD_SIZE size, void* userdata)
{
    auto* collector = static_cast<Collector*>(userdata);
    const std::string_view piece(text, size);
    std::string decoded;
    switch (type) {
    case MD_TEXT_ENTITY:
        appendEntity(decoded, piece);
        break;
    case MD_TEXT_NULLCHAR:
        appendUtf8(decoded, 0xFFFD);
        break;
    case MD_TEXT_BR:
    case MD_TEXT_SOFTBR:
        decoded = "\n";
        break;
    default:
        decoded = piece;
        break;
    }
    collector->append(decoded);
    return collector->failed ? 1 : 0;
}

} // namespace

std::optional<InlineText> parseInlineMarkdown(std::string_view text)
{
    if (text.size() > maxInlineBytes) {
        return std::nullopt;
    }
    Collector collector;
    if (!chooseSentinels(text, collector.sentinels)) {
        return std::nullopt;
    }
    std::string source(noBreakSpace);
    source += text;
    replaceAll(source, "\r", collector.sentinels.cr);
    replaceAll(source, "\n", collector.sentinels.lf);
    if (source.size() > maxInlineBytes + 64) {
        return std::nullopt;
    }

    MD_PARSER parser{};
    parser.abi_version = 0;
    parser.flags = MD_FLAG_NOHTML;
    parser.enter_block = enterBlock;
    parser.leave_block = leaveBlock;
    parser.enter_span = enterSpan;
    parser.leave_span = leaveSpan;
    parser.text = onText;
    const int result =
        md_parse(source.data(), static_cast<MD_SIZE>(source.size()), &parser, &collector);
    if (result != 0 || collector.failed || collector.paragraphs != 1 || !collector.prefixStripped) {
        return std::nullopt;
    }
    return std::move(collector.runs);
}

} // namespace vellico::docs
