// A bounded reader for binary property lists ("bplist00").
//
// Layout: the 8-byte header, the objects, an offset table (one big-endian
// offset per object, `offsetSize` bytes each) and a 32-byte trailer:
//   6 bytes unused, offsetSize, refSize, numObjects (8), topObject (8),
//   offsetTableOffset (8).
// Containers hold object numbers (`refSize` bytes each), not offsets, so the
// same object may be referenced many times or by itself. Every offset, count
// and reference is checked against the buffer before use; every expanded
// object takes a node from the budget; an object referenced from inside
// itself is a cycle and refused.

#include "formats/property_list_detail.hpp"

#include <bit>
#include <cstring>
#include <limits>

namespace vellico::formats::detail {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

class BinaryReader {
public:
    BinaryReader(std::span<const std::uint8_t> bytes, const PlistLimits& limits)
        : m_bytes(bytes), m_budget(limits)
    {}

    std::optional<PlistValue> parse()
    {
        if (m_bytes.size() < kHeaderSize + kTrailerSize) {
            return std::nullopt;
        }
        const std::size_t trailer = m_bytes.size() - kTrailerSize;
        m_offsetSize = m_bytes[trailer + 6];
        m_refSize = m_bytes[trailer + 7];
        m_numObjects = readBigEndian(trailer + 8, 8);
        const std::uint64_t topObject = readBigEndian(trailer + 16, 8);
        const std::uint64_t tableOffset = readBigEndian(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 ||
            m_numObjects == 0 || topObject >= m_numObjects) {
            return std::nullopt;
        }
        // A reference of refSize bytes must be able to name every object.
        if (m_refSize < 8 && m_numObjects > (std::uint64_t{1} << (8 * m_refSize))) {
            return std::nullopt;
        }
        // The objects lie between the header and the offset table, which ends
        // at or before the trailer.
        if (tableOffset <= kHeaderSize || tableOffset > trailer ||
            m_numObjects > (trailer - tableOffset) / m_offsetSize) {
            return std::nullopt;
        }
        m_tableOffset = static_cast<std::size_t>(tableOffset);
        m_onPath.assign(static_cast<std::size_t>(m_numObjects), false);
        return parseObject(topObject, 0);
    }

private:
    // `width` bytes at `at`, big-endian; the caller has checked the bounds.
    std::uint64_t readBigEndian(std::size_t at, std::size_t width) const
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            v = (v << 8) | m_bytes[at + i];
        }
        return v;
    }

    // True when [at, at + length) lies inside the object area.
    bool inObjects(std::size_t at, std::uint64_t length) const
    {
        return at <= m_tableOffset && length <= m_tableOffset - at;
    }

    std::optional<std::size_t> objectOffset(std::uint64_t index) const
    {
        if (index >= m_numObjects) {
            return std::nullopt;
        }
        const std::uint64_t offset = readBigEndian(
            m_tableOffset + static_cast<std::size_t>(index) * m_offsetSize, m_offsetSize);
        if (offset < kHeaderSize || offset >= m_tableOffset) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(offset);
    }

    // The element count of a data, string or container object starting at
    // `at`: the marker's low nibble, or 0xF followed by an integer object.
    // `payload` is set to where the contents start.
    bool readCount(std::size_t at, std::uint64_t& count, std::size_t& payload) const
    {
        const unsigned nibble = m_bytes[at] & 0x0F;
        if (nibble != 0x0F) {
            count = nibble;
            payload = at + 1;
            return true;
        }
        if (!inObjects(at + 1, 1)) {
            return false;
        }
        const std::uint8_t intMarker = m_bytes[at + 1];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) {
            return false;
        }
        const std::size_t width = std::size_t{1} << (intMarker & 0x0F);
        if (!inObjects(at + 2, width)) {
            return false;
        }
        count = readBigEndian(at + 2, width);
        payload = at + 2 + width;
        return count <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    }

    // A string object (ASCII or UTF-16BE) as UTF-8; none for any other type.
    std::optional<std::string> readString(std::size_t at)
    {
        const std::uint8_t kind = m_bytes[at] >> 4;
        std::uint64_t count;
        std::size_t payload;
        if ((kind != 0x5 && kind != 0x6) || !readCount(at, count, payload)) {
            return std::nullopt;
        }
        std::string text;
        if (kind == 0x5) {
            if (!inObjects(payload, count) || !m_budget.takePayload(count)) {
                return std::nullopt;
            }
            text.assign(reinterpret_cast<const char*>(m_bytes.data() + payload), count);
            for (const char c : text) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    return std::nullopt;
                }
            }
            return text;
        }
        if (count > m_tableOffset / 2 || !inObjects(payload, count * 2)) {
            return std::nullopt;
        }
        std::optional<std::string> decoded =
            model::utf8FromUtf16(m_bytes.subspan(payload, count * 2), true);
        if (!decoded) {
            return std::nullopt; // an unpaired surrogate
        }
        text = std::move(*decoded);
        if (!m_budget.takePayload(text.size())) {
            return std::nullopt;
        }
        return text;
    }

    // `depth` is the number of containers enclosing this object.
    std::optional<PlistValue> parseObject(std::uint64_t index, std::size_t depth)
    {
        const std::optional<std::size_t> offset = objectOffset(index);
        if (!offset || !m_budget.takeNode()) {
            return std::nullopt;
        }
        const std::size_t at = *offset;
        const std::uint8_t marker = m_bytes[at];
        const unsigned low = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09) {
                return PlistValue(marker == 0x09);
            }
            return std::nullopt; // null, fill and unknown markers
        case 0x1: {
            if (low > 4 || !inObjects(at + 1, std::size_t{1} << low)) {
                return std::nullopt;
            }
            if (low < 3) { // 1, 2 and 4 bytes are unsigned
                return PlistValue(static_cast<std::int64_t>(readBigEndian(at + 1, 1u << low)));
            }
            if (low == 3) { // 8 bytes are signed
                return PlistValue(static_cast<std::int64_t>(readBigEndian(at + 1, 8)));
            }
            // 16 bytes: signed 128-bit; keep it only when it fits 64 bits.
            const std::uint64_t high = readBigEndian(at + 1, 8);
            const std::uint64_t lowPart = readBigEndian(at + 9, 8);
            const bool negative = (lowPart >> 63) != 0;
            if (high != (negative ? ~std::uint64_t{0} : 0)) {
                return std::nullopt;
            }
            return PlistValue(static_cast<std::int64_t>(lowPart));
        }
        case 0x2:
            if (low == 2 && inObjects(at + 1, 4)) {
                const auto bits = static_cast<std::uint32_t>(readBigEndian(at + 1, 4));
                return PlistValue(static_cast<double>(std::bit_cast<float>(bits)));
            }
            if (low == 3 && inObjects(at + 1, 8)) {
                return PlistValue(std::bit_cast<double>(readBigEndian(at + 1, 8)));
            }
            return std::nullopt;
        case 0x3:
            if (marker != 0x33 || !inObjects(at + 1, 8)) {
                return std::nullopt;
            }
            return PlistValue(PlistValue::Date{std::bit_cast<double>(readBigEndian(at + 1, 8))});
        case 0x4: {
            std::uint64_t count;
            std::size_t payload;
            if (!readCount(at, count, payload) || !inObjects(payload, count) ||
                !m_budget.takePayload(count)) {
                return std::nullopt;
            }
            const auto* begin = m_bytes.data() + payload;
            return PlistValue(PlistValue::Data(begin, begin + count));
        }
        case 0x5:
        case 0x6: {
            std::optional<std::string> text = readString(at);
            if (!text) {
                return std::nullopt;
            }
            return PlistValue(std::move(*text));
        }
        case 0x8: {
            const std::size_t width = low + 1;
            if (width > 8 || !inObjects(at + 1, width)) {
                return std::nullopt;
            }
            return PlistValue(PlistValue::Uid{readBigEndian(at + 1, width)});
        }
        case 0xA:
        case 0xD:
            return parseContainer(index, at, depth, marker >> 4 == 0xD);
        default:
            return std::nullopt; // sets, ordered sets, UTF-8 strings (bplist1x), unknown
        }
    }

    std::optional<PlistValue> parseContainer(std::uint64_t index, std::size_t at, std::size_t depth,
                                             bool isDict)
    {
        std::uint64_t count;
        std::size_t refs;
        if (depth + 1 > m_budget.maxDepth() || !readCount(at, count, refs)) {
            return std::nullopt;
        }
        // Each element is one more node: refusing here also keeps reserve()
        // below small whatever the count claims.
        const std::uint64_t refCount = isDict ? count * 2 : count;
        if (!m_budget.hasNodes(count) || refs > m_tableOffset ||
            refCount > (m_tableOffset - refs) / m_refSize) {
            return std::nullopt;
        }
        if (m_onPath[index]) {
            return std::nullopt; // the object contains itself
        }
        m_onPath[index] = true;
        std::optional<PlistValue> result;
        if (isDict) {
            PlistValue::Dict entries;
            entries.reserve(count);
            const std::size_t values = refs + count * m_refSize;
            for (std::size_t i = 0; i < count; ++i) {
                const std::optional<std::size_t> keyAt =
                    objectOffset(readBigEndian(refs + i * m_refSize, m_refSize));
                std::optional<std::string> key;
                if (keyAt) {
                    key = readString(*keyAt);
                }
                std::optional<PlistValue> value;
                if (key) {
                    value =
                        parseObject(readBigEndian(values + i * m_refSize, m_refSize), depth + 1);
                }
                if (!value) {
                    m_onPath[index] = false;
                    return std::nullopt;
                }
                entries.emplace_back(std::move(*key), std::move(*value));
            }
            result = PlistValue(std::move(entries));
        } else {
            PlistValue::Array items;
            items.reserve(count);
            for (std::size_t i = 0; i < count; ++i) {
                std::optional<PlistValue> item =
                    parseObject(readBigEndian(refs + i * m_refSize, m_refSize), depth + 1);
                if (!item) {
                    m_onPath[index] = false;
                    return std::nullopt;
                }
                items.push_back(std::move(*item));
            }
            result = PlistValue(std::move(items));
        }
        m_onPath[index] = false;
        return result;
    }

    std::span<const std::uint8_t> m_bytes;
    Budget m_budget;
    std::size_t m_offsetSize = 0;
    std::size_t m_refSize = 0;
    std::uint64_t m_numObjects = 0;
    std::size_t m_tableOffset = 0;
    std::vector<bool> m_onPath; // objects being expanded on the current path
};

} // namespace

std::optional<PlistValue> parseBinaryPropertyList(std::span<const std::uint8_t> bytes,
                                                  const PlistLimits& limits)
{
    return BinaryReader(bytes, limits).parse();
}

} // namespace vellico::formats::detail
