#include "formats/binary_plist_writer.hpp"

#include "formats/property_list_detail.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

namespace vellico::formats {
namespace {

using detail::kHardMaxDepth;

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

std::optional<std::vector<std::uint8_t>> toBinaryPropertyList(const PlistValue& value)
{
    return BinaryWriter().write(value);
}

} // namespace vellico::formats
