// The XML serialiser, for our own values. It follows what CoreFoundation
// writes, so that a file we write (a lock record, a settings file) looks to
// the editor like one it wrote itself.

#include "formats/property_list.hpp"

#include "formats/property_list_detail.hpp"
#include "model/base64.hpp"

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
    const std::string encoded = model::encodeBase64(data);
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

} // namespace vellico::formats
