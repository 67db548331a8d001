// A bounded reader for XML property lists: the subset of XML that the plist
// DTD uses. The document is UTF-8 (a UTF-8 byte-order mark is skipped) or
// UTF-16 of either byte order, with or without a byte-order mark; the
// XML declaration, processing instructions, comments and one <!DOCTYPE> are
// skipped; text knows the five predefined entities, numeric character
// references and CDATA sections. Attributes are read past and ignored. The
// root is <plist> holding one value, or a bare value as CoreFoundation also
// accepts. No external entity, no entity definition, nothing fetched.
//
// Each scan moves forward through the text, so the work is linear in the
// input; recursion is one level per array or dictionary, bounded by the depth
// limit.

#include "formats/property_list_detail.hpp"
#include "model/base64.hpp"

#include <charconv>
#include <limits>

namespace vellico::formats::detail {
namespace {

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '.' || c == '-';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isXmlSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isXmlSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Characters XML 1.0 allows: no C0 control other than tab, LF and CR.
bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD ||
           (c >= 0x20 && c <= 0x10FFFF && c != 0xFFFE && c != 0xFFFF && (c < 0xD800 || c > 0xDFFF));
}

std::optional<std::int64_t> parseInteger(std::string_view s)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const char* end = s.data() + s.size();
    // from_chars takes no sign here (it was removed), so "--1" or "+-1" fail.
    if (s.empty() || s.front() == '-' || s.front() == '+') {
        return std::nullopt;
    }
    auto [ptr, ec] = std::from_chars(s.data(), end, magnitude, base);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > kMax + 1) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(~magnitude + 1); // two's complement negation
    }
    if (magnitude > kMax) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(magnitude);
}

std::optional<double> parseReal(std::string_view s)
{
    // CoreFoundation writes "+infinity"; from_chars takes no leading '+'.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-') {
            return std::nullopt;
        }
    }
    double value = 0;
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, value, std::chars_format::general);
    if (s.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

class XmlReader {
public:
    XmlReader(std::string_view text, const PlistLimits& limits) : m_text(text), m_budget(limits) {}

    std::optional<PlistValue> parse()
    {
        if (!skipMisc()) {
            return std::nullopt;
        }
        if (startsWith("<!DOCTYPE")) {
            if (!skipDoctype() || !skipMisc()) {
                return std::nullopt;
            }
        }
        std::optional<Tag> tag = readTag();
        if (!tag || tag->closing) {
            return std::nullopt;
        }
        std::optional<PlistValue> value;
        if (tag->name == "plist") {
            if (tag->selfClosing || !skipMisc()) {
                return std::nullopt;
            }
            std::optional<Tag> inner = readTag();
            if (!inner) {
                return std::nullopt;
            }
            value = parseValue(*inner, 0);
            if (!value || !skipMisc()) {
                return std::nullopt;
            }
            std::optional<Tag> close = readTag();
            if (!close || !close->closing || close->name != "plist") {
                return std::nullopt;
            }
        } else {
            value = parseValue(*tag, 0);
        }
        if (!value || !skipMisc() || m_pos != m_text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    struct Tag {
        std::string_view name;
        bool closing = false;     // </name>
        bool selfClosing = false; // <name/>
    };

    bool startsWith(std::string_view prefix) const
    {
        return m_text.substr(m_pos).starts_with(prefix);
    }

    // Moves past `terminator`; false when the text ends first.
    bool skipPast(std::string_view terminator)
    {
        const std::size_t found = m_text.find(terminator, m_pos);
        if (found == std::string_view::npos) {
            return false;
        }
        m_pos = found + terminator.size();
        return true;
    }

    // Skips whitespace, comments and processing instructions (the XML
    // declaration among them). False on an unterminated one.
    bool skipMisc()
    {
        for (;;) {
            while (m_pos < m_text.size() && isXmlSpace(m_text[m_pos])) {
                ++m_pos;
            }
            if (startsWith("<!--")) {
                m_pos += 4;
                if (!skipPast("-->")) {
                    return false;
                }
            } else if (startsWith("<?")) {
                if (!skipPast("?>")) {
                    return false;
                }
            } else {
                return true;
            }
        }
    }

    // <!DOCTYPE plist PUBLIC "…" "…"> with an optional [internal subset]. The
    // subset is skipped, not read: an entity it defines stays unknown and is
    // refused where used.
    bool skipDoctype()
    {
        char quote = 0;
        bool inSubset = false;
        for (m_pos += 9; m_pos < m_text.size(); ++m_pos) {
            const char c = m_text[m_pos];
            if (quote != 0) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                inSubset = true;
            } else if (c == ']') {
                inSubset = false;
            } else if (c == '>' && !inSubset) {
                ++m_pos;
                return true;
            }
        }
        return false;
    }

    std::optional<Tag> readTag()
    {
        if (m_pos >= m_text.size() || m_text[m_pos] != '<') {
            return std::nullopt;
        }
        Tag tag;
        ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '/') {
            tag.closing = true;
            ++m_pos;
        }
        const std::size_t nameStart = m_pos;
        while (m_pos < m_text.size() && isNameChar(m_text[m_pos])) {
            ++m_pos;
        }
        tag.name = m_text.substr(nameStart, m_pos - nameStart);
        if (tag.name.empty()) {
            return std::nullopt;
        }
        for (;;) {
            while (m_pos < m_text.size() && isXmlSpace(m_text[m_pos])) {
                ++m_pos;
            }
            if (m_pos >= m_text.size()) {
                return std::nullopt;
            }
            if (m_text[m_pos] == '>') {
                ++m_pos;
                return tag;
            }
            if (startsWith("/>") && !tag.closing) {
                m_pos += 2;
                tag.selfClosing = true;
                return tag;
            }
            if (tag.closing || !skipAttribute()) {
                return std::nullopt;
            }
        }
    }

    // name = "value" (or 'value'); the value is not used.
    bool skipAttribute()
    {
        const std::size_t nameStart = m_pos;
        while (m_pos < m_text.size() && isNameChar(m_text[m_pos])) {
            ++m_pos;
        }
        if (m_pos == nameStart) {
            return false;
        }
        while (m_pos < m_text.size() && isXmlSpace(m_text[m_pos])) {
            ++m_pos;
        }
        if (m_pos >= m_text.size() || m_text[m_pos] != '=') {
            return false;
        }
        ++m_pos;
        while (m_pos < m_text.size() && isXmlSpace(m_text[m_pos])) {
            ++m_pos;
        }
        if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\'')) {
            return false;
        }
        const std::size_t end = m_text.find(m_text[m_pos], m_pos + 1);
        if (end == std::string_view::npos ||
            m_text.substr(m_pos, end - m_pos).find('<') != std::string_view::npos) {
            return false;
        }
        m_pos = end + 1;
        return true;
    }

    // &amp; &lt; &gt; &quot; &apos; &#NNN; &#xHHH; at m_pos.
    bool readEntity(std::string& out)
    {
        const std::size_t semicolon = m_text.find(';', m_pos);
        if (semicolon == std::string_view::npos || semicolon - m_pos > 12) {
            return false;
        }
        const std::string_view name = m_text.substr(m_pos + 1, semicolon - m_pos - 1);
        m_pos = semicolon + 1;
        if (name == "amp") {
            out.push_back('&');
        } else if (name == "lt") {
            out.push_back('<');
        } else if (name == "gt") {
            out.push_back('>');
        } else if (name == "quot") {
            out.push_back('"');
        } else if (name == "apos") {
            out.push_back('\'');
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t cp = 0;
            const char* end = digits.data() + digits.size();
            auto [ptr, ec] = std::from_chars(digits.data(), end, cp, hex ? 16 : 10);
            if (digits.empty() || ec != std::errc() || ptr != end || !isXmlChar(cp)) {
                return false;
            }
            appendUtf8(out, cp);
        } else {
            return false;
        }
        return true;
    }

    // The text content of the element `name`, up to and including its end tag.
    // Markup inside is limited to comments and CDATA sections.
    std::optional<std::string> readText(std::string_view name)
    {
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '&') {
                if (!readEntity(out)) {
                    return std::nullopt;
                }
            } else if (c != '<') {
                const std::size_t next = m_text.find_first_of("<&", m_pos);
                const std::size_t end = next == std::string_view::npos ? m_text.size() : next;
                out.append(m_text.substr(m_pos, end - m_pos));
                m_pos = end;
            } else if (startsWith("<![CDATA[")) {
                const std::size_t start = m_pos + 9;
                if (!skipPast("]]>")) {
                    return std::nullopt;
                }
                out.append(m_text.substr(start, m_pos - 3 - start));
            } else if (startsWith("<!--")) {
                m_pos += 4;
                if (!skipPast("-->")) {
                    return std::nullopt;
                }
            } else {
                std::optional<Tag> tag = readTag();
                if (!tag || !tag->closing || tag->name != name) {
                    return std::nullopt;
                }
                return out;
            }
        }
        return std::nullopt;
    }

    // The value that starts with `tag`; `depth` counts the enclosing containers.
    std::optional<PlistValue> parseValue(const Tag& tag, std::size_t depth)
    {
        if (tag.closing || !m_budget.takeNode()) {
            return std::nullopt;
        }
        const std::string_view name = tag.name;
        if (name == "dict" || name == "array") {
            if (depth + 1 > m_budget.maxDepth()) {
                return std::nullopt;
            }
            return name == "dict" ? parseDict(tag, depth + 1) : parseArray(tag, depth + 1);
        }
        if (name == "true" || name == "false") {
            if (!tag.selfClosing) {
                std::optional<std::string> text = readText(name);
                if (!text || !trimmed(*text).empty()) {
                    return std::nullopt;
                }
            }
            return PlistValue(name == "true");
        }
        if (name != "string" && name != "data" && name != "integer" && name != "real" &&
            name != "date") {
            return std::nullopt; // <key> outside a dictionary, or an unknown element
        }
        std::optional<std::string> text = tag.selfClosing ? std::string() : readText(name);
        if (!text) {
            return std::nullopt;
        }
        if (name == "string") {
            if (!m_budget.takePayload(text->size())) {
                return std::nullopt;
            }
            return PlistValue(std::move(*text));
        }
        if (name == "data") {
            std::optional<PlistValue::Data> bytes = model::decodeBase64(*text);
            if (!bytes || !m_budget.takePayload(bytes->size())) {
                return std::nullopt;
            }
            return PlistValue(std::move(*bytes));
        }
        if (name == "integer") {
            std::optional<std::int64_t> v = parseInteger(trimmed(*text));
            return v ? std::optional<PlistValue>(PlistValue(*v)) : std::nullopt;
        }
        if (name == "real") {
            std::optional<double> v = parseReal(trimmed(*text));
            return v ? std::optional<PlistValue>(PlistValue(*v)) : std::nullopt;
        }
        std::optional<double> seconds = parseIsoDate(trimmed(*text));
        return seconds ? std::optional<PlistValue>(PlistValue(PlistValue::Date{*seconds}))
                       : std::nullopt;
    }

    std::optional<PlistValue> parseArray(const Tag& tag, std::size_t depth)
    {
        PlistValue::Array items;
        if (tag.selfClosing) {
            return PlistValue(std::move(items));
        }
        for (;;) {
            std::optional<Tag> next;
            if (!skipMisc() || !(next = readTag())) {
                return std::nullopt;
            }
            if (next->closing) {
                if (next->name != "array") {
                    return std::nullopt;
                }
                return PlistValue(std::move(items));
            }
            std::optional<PlistValue> item = parseValue(*next, depth);
            if (!item) {
                return std::nullopt;
            }
            items.push_back(std::move(*item));
        }
    }

    std::optional<PlistValue> parseDict(const Tag& tag, std::size_t depth)
    {
        PlistValue::Dict entries;
        if (tag.selfClosing) {
            return PlistValue(std::move(entries));
        }
        for (;;) {
            std::optional<Tag> next;
            if (!skipMisc() || !(next = readTag())) {
                return std::nullopt;
            }
            if (next->closing) {
                if (next->name != "dict") {
                    return std::nullopt;
                }
                return PlistValue(std::move(entries));
            }
            if (next->name != "key") {
                return std::nullopt;
            }
            std::optional<std::string> key = next->selfClosing ? std::string() : readText("key");
            if (!key || !m_budget.takePayload(key->size()) || !skipMisc() || !(next = readTag())) {
                return std::nullopt;
            }
            std::optional<PlistValue> value = parseValue(*next, depth);
            if (!value) {
                return std::nullopt;
            }
            entries.emplace_back(std::move(*key), std::move(*value));
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    Budget m_budget;
};

// A document in UTF-16, as the system's writer may save one: a byte-order
// mark, or none and "<" as the first character. Re-encoded as UTF-8; none
// when it is not UTF-16 or holds an unpaired surrogate.
std::optional<std::string> utf16AsUtf8(std::span<const std::uint8_t> bytes)
{
    bool bigEndian = false;
    std::size_t at = 0;
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        bigEndian = true;
        at = 2;
    } else if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        at = 2;
    } else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] == '<') {
        bigEndian = true;
    } else if (!(bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == 0)) {
        return std::nullopt;
    }
    return model::utf8FromUtf16(bytes.subspan(at), bigEndian);
}

} // namespace

std::optional<PlistValue> parseXmlPropertyList(std::span<const std::uint8_t> bytes,
                                               const PlistLimits& limits)
{
    const std::optional<std::string> converted = utf16AsUtf8(bytes);
    std::string_view text =
        converted ? std::string_view(*converted)
                  : std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    // Checking the whole document once means every string taken from it is
    // valid UTF-8 free of the control characters XML forbids (NUL included).
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && !isXmlSpace(c)) {
            return std::nullopt;
        }
    }
    return XmlReader(text, limits).parse();
}

} // namespace vellico::formats::detail
