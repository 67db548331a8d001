// The two serialisers, for our own values. Both follow what CoreFoundation
// writes, so that a file we write (a lock record, a settings file) looks to
// the editor like one it wrote itself.

#include "formats/property_list.hpp"

#include "formats/property_list_detail.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

namespace vellico::formats {
namespace {

using detail::kHardMaxDepth;

// ---- XML -------------------------------------------------------------------

constexpr std::string_view kXmlHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                        "<plist version=\"1.0\">\n";

void appendIndent(std::string& out, std::size_t indent)
{
    out.append(indent, '\t');
}

// CoreFoundation escapes only these three; quotes stay as they are.
bool appendEscaped(std::string& out, std::string_view text)
{
    if (!detail::isValidUtf8(text)) {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false; // XML 1.0 has no way to carry it
        }
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out.push_back(c);
        }
    }
    return true;
}

// Base64 lines as CoreFoundation cuts them: 76 characters, less 8 for each
// level of indentation (at most 8 levels counted), each line indented.
void appendBase64(std::string& out, const PlistValue::Data& data, std::size_t indent)
{
    static constexpr char kTable[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t left = data.size() - i;
        const std::uint32_t group = (std::uint32_t{data[i]} << 16) |
                                    (left > 1 ? std::uint32_t{data[i + 1]} << 8 : 0) |
                                    (left > 2 ? std::uint32_t{data[i + 2]} : 0);
        encoded.push_back(kTable[(group >> 18) & 0x3F]);
        encoded.push_back(kTable[(group >> 12) & 0x3F]);
        encoded.push_back(left > 1 ? kTable[(group >> 6) & 0x3F] : '=');
        encoded.push_back(left > 2 ? kTable[group & 0x3F] : '=');
    }
    const std::size_t width = 76 - 8 * std::min<std::size_t>(indent, 8);
    for (std::size_t at = 0; at < encoded.size(); at += width) {
        appendIndent(out, indent);
        out.append(encoded, at, width);
        out.push_back('\n');
    }
}

// "%.*g" with 17 digits as CoreFoundation formats a double, with its special
// spellings; std::to_chars does not depend on the C locale (a French
// LC_NUMERIC would write a decimal comma through printf).
std::string formatReal(double v)
{
    if (std::isnan(v)) {
        return "nan";
    }
    if (std::isinf(v)) {
        return v > 0 ? "+infinity" : "-infinity";
    }
    if (v == 0.0) {
        return "0.0";
    }
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 17);
    return std::string(buffer, result.ptr);
}

bool writeXml(std::string& out, const PlistValue& value, std::size_t indent)
{
    if (indent > kHardMaxDepth) {
        return false;
    }
    appendIndent(out, indent);
    switch (value.type()) {
    case PlistType::string:
        out += "<string>";
        if (!appendEscaped(out, *value.string())) {
            return false;
        }
        out += "</string>\n";
        return true;
    case PlistType::boolean:
        out += *value.boolean() ? "<true/>\n" : "<false/>\n";
        return true;
    case PlistType::integer:
        out += "<integer>" + std::to_string(*value.integer()) + "</integer>\n";
        return true;
    case PlistType::real:
        out += "<real>" + formatReal(*value.real()) + "</real>\n";
        return true;
    case PlistType::data:
        out += "<data>\n";
        appendBase64(out, *value.data(), indent);
        appendIndent(out, indent);
        out += "</data>\n";
        return true;
    case PlistType::date: {
        std::optional<std::string> text = detail::formatIsoDate(value.date()->secondsSince2001);
        if (!text) {
            return false;
        }
        out += "<date>" + *text + "</date>\n";
        return true;
    }
    case PlistType::uid:
        return false; // keyed-archiver references exist in binary lists only
    case PlistType::array:
        if (value.array()->empty()) {
            out += "<array/>\n";
            return true;
        }
        out += "<array>\n";
        for (const PlistValue& item : *value.array()) {
            if (!writeXml(out, item, indent + 1)) {
                return false;
            }
        }
        appendIndent(out, indent);
        out += "</array>\n";
        return true;
    case PlistType::dict:
        if (value.dict()->empty()) {
            out += "<dict/>\n";
            return true;
        }
        out += "<dict>\n";
        for (const auto& [key, item] : *value.dict()) {
            appendIndent(out, indent + 1);
            out += "<key>";
            if (!appendEscaped(out, key)) {
                return false;
            }
            out += "</key>\n";
            if (!writeXml(out, item, indent + 1)) {
                return false;
            }
        }
        appendIndent(out, indent);
        out += "</dict>\n";
        return true;
    }
    return false;
}

// ---- Binary ----------------------------------------------------------------

// Bytes needed for an unsigned value, in the widths the format allows.
std::size_t byteWidth(std::uint64_t v)
{
    return v < (1u << 8) ? 1 : v < (1u << 16) ? 2 : v < (std::uint64_t{1} << 32) ? 4 : 8;
}

class BinaryWriter {
public:
    std::optional<std::vector<std::uint8_t>> write(const PlistValue& top)
    {
        if (!add(top, 0)) {
            return std::nullopt;
        }
        m_refSize = byteWidth(m_objects.size());
        m_out.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
        std::vector<std::uint64_t> offsets;
        offsets.reserve(m_objects.size());
        for (const Object& object : m_objects) {
            offsets.push_back(m_out.size());
            writeObject(object);
        }
        const std::uint64_t tableOffset = m_out.size();
        const std::size_t offsetSize = byteWidth(tableOffset);
        for (const std::uint64_t offset : offsets) {
            appendBigEndian(offset, offsetSize);
        }
        m_out.insert(m_out.end(), 6, 0); // unused, then sort version 0
        m_out.push_back(static_cast<std::uint8_t>(offsetSize));
        m_out.push_back(static_cast<std::uint8_t>(m_refSize));
        appendBigEndian(m_objects.size(), 8);
        appendBigEndian(0, 8); // the top object comes first
        appendBigEndian(tableOffset, 8);
        return std::move(m_out);
    }

private:
    // One object of the file: a value, or a string (value or dictionary key)
    // stored once however often it is used. Containers list their children's
    // object numbers (a dictionary: its keys, then its values).
    struct Object {
        const PlistValue* value = nullptr;
        const std::string* text = nullptr;
        std::vector<std::uint64_t> refs;
    };

    std::optional<std::uint64_t> addString(const std::string& text)
    {
        if (!detail::isValidUtf8(text)) {
            return std::nullopt;
        }
        const auto [it, inserted] = m_strings.try_emplace(text, m_objects.size());
        if (inserted) {
            m_objects.push_back(Object{nullptr, &it->first, {}});
        }
        return it->second;
    }

    std::optional<std::uint64_t> add(const PlistValue& value, std::size_t depth)
    {
        if (value.string() != nullptr) {
            return addString(*value.string());
        }
        if (depth > kHardMaxDepth) {
            return std::nullopt;
        }
        const std::uint64_t index = m_objects.size();
        m_objects.push_back(Object{&value, nullptr, {}});
        std::vector<std::uint64_t> refs;
        if (const PlistValue::Array* items = value.array()) {
            for (const PlistValue& item : *items) {
                const std::optional<std::uint64_t> ref = add(item, depth + 1);
                if (!ref) {
                    return std::nullopt;
                }
                refs.push_back(*ref);
            }
        } else if (const PlistValue::Dict* entries = value.dict()) {
            // All keys first, then the values, in the order CoreFoundation
            // numbers them.
            for (const auto& entry : *entries) {
                const std::optional<std::uint64_t> keyRef = addString(entry.first);
                if (!keyRef) {
                    return std::nullopt;
                }
                refs.push_back(*keyRef);
            }
            for (const auto& entry : *entries) {
                const std::optional<std::uint64_t> valueRef = add(entry.second, depth + 1);
                if (!valueRef) {
                    return std::nullopt;
                }
                refs.push_back(*valueRef);
            }
        }
        // m_objects may have grown since: index, not a reference.
        m_objects[index].refs = std::move(refs);
        return index;
    }

    void appendBigEndian(std::uint64_t v, std::size_t width)
    {
        for (std::size_t i = width; i-- > 0;) {
            m_out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }

    void writeInteger(std::int64_t v)
    {
        // Negative numbers take the signed 8-byte form; 1, 2 and 4 bytes are
        // unsigned.
        const std::size_t width = v < 0 ? 8 : byteWidth(static_cast<std::uint64_t>(v));
        m_out.push_back(static_cast<std::uint8_t>(0x10 | (width == 1   ? 0
                                                          : width == 2 ? 1
                                                          : width == 4 ? 2
                                                                       : 3)));
        appendBigEndian(static_cast<std::uint64_t>(v), width);
    }

    void writeHeader(std::uint8_t kind, std::size_t count)
    {
        if (count < 15) {
            m_out.push_back(static_cast<std::uint8_t>(kind << 4 | count));
        } else {
            m_out.push_back(static_cast<std::uint8_t>(kind << 4 | 0x0F));
            writeInteger(static_cast<std::int64_t>(count));
        }
    }

    void writeString(const std::string& text)
    {
        const bool ascii = std::all_of(text.begin(), text.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) {
            writeHeader(0x5, text.size());
            m_out.insert(m_out.end(), text.begin(), text.end());
            return;
        }
        // UTF-16BE; the text was checked to be valid UTF-8 in addString().
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i < text.size();) {
            const auto c = static_cast<unsigned char>(text[i]);
            const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            char32_t cp = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 7;
            for (std::size_t k = 1; k < length; ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
            i += length;
            if (cp >= 0x10000) {
                cp -= 0x10000;
                units.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
                units.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                units.push_back(static_cast<std::uint16_t>(cp));
            }
        }
        writeHeader(0x6, units.size());
        for (const std::uint16_t unit : units) {
            appendBigEndian(unit, 2);
        }
    }

    void writeObject(const Object& object)
    {
        if (object.text != nullptr) {
            writeString(*object.text);
            return;
        }
        const PlistValue& value = *object.value;
        switch (value.type()) {
        case PlistType::string: // stored as `text`, never here
            break;
        case PlistType::boolean:
            m_out.push_back(*value.boolean() ? 0x09 : 0x08);
            break;
        case PlistType::integer:
            writeInteger(*value.integer());
            break;
        case PlistType::real:
            m_out.push_back(0x23);
            appendBigEndian(std::bit_cast<std::uint64_t>(*value.real()), 8);
            break;
        case PlistType::date:
            m_out.push_back(0x33);
            appendBigEndian(std::bit_cast<std::uint64_t>(value.date()->secondsSince2001), 8);
            break;
        case PlistType::data:
            writeHeader(0x4, value.data()->size());
            m_out.insert(m_out.end(), value.data()->begin(), value.data()->end());
            break;
        case PlistType::uid: {
            const std::size_t width = byteWidth(value.uid()->value);
            m_out.push_back(static_cast<std::uint8_t>(0x80 | (width - 1)));
            appendBigEndian(value.uid()->value, width);
            break;
        }
        case PlistType::array:
        case PlistType::dict: {
            const bool isDict = value.type() == PlistType::dict;
            writeHeader(isDict ? 0xD : 0xA, isDict ? value.dict()->size() : value.array()->size());
            for (const std::uint64_t ref : object.refs) {
                appendBigEndian(ref, m_refSize);
            }
            break;
        }
        }
    }

    std::vector<Object> m_objects;
    std::map<std::string, std::uint64_t> m_strings;
    std::size_t m_refSize = 1;
    std::vector<std::uint8_t> m_out;
};

} // namespace

std::optional<std::string> toXmlPropertyList(const PlistValue& value)
{
    std::string out(kXmlHeader);
    if (!writeXml(out, value, 0)) {
        return std::nullopt;
    }
    out += "</plist>\n";
    return out;
}

std::optional<std::vector<std::uint8_t>> toBinaryPropertyList(const PlistValue& value)
{
    return BinaryWriter().write(value);
}

} // namespace vellico::formats
