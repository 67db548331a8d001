#pragma once

#include "formats/property_list.hpp"
#include "model/utf8.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Internals shared by the property-list readers and writers; not for use
// outside src/formats (and its tests).
namespace vellico::formats::detail {

// Hard ceiling on nesting, whatever the caller's limits say: both readers and
// both writers recurse once per container.
inline constexpr std::size_t kHardMaxDepth = 1024;

// What one parse may still produce. Every value taken from the input calls
// takeNode(); every string or data payload calls takePayload(). Both answer
// false once the limit is passed, and the parse then gives up.
class Budget {
public:
    explicit Budget(const PlistLimits& limits)
        : m_maxDepth(limits.maxDepth < kHardMaxDepth ? limits.maxDepth : kHardMaxDepth),
          m_nodesLeft(limits.maxNodes), m_payloadLeft(limits.maxPayloadBytes)
    {}
    std::size_t maxDepth() const { return m_maxDepth; }
    // Room for `count` more nodes (checked before reserving a container).
    bool hasNodes(std::size_t count) const { return count <= m_nodesLeft; }
    bool takeNode()
    {
        if (m_nodesLeft == 0) {
            return false;
        }
        --m_nodesLeft;
        return true;
    }
    bool takePayload(std::size_t bytes)
    {
        if (bytes > m_payloadLeft) {
            return false;
        }
        m_payloadLeft -= bytes;
        return true;
    }

private:
    std::size_t m_maxDepth;
    std::size_t m_nodesLeft;
    std::size_t m_payloadLeft;
};

// The two readers. `bytes` is already known to fit limits.maxBytes.
std::optional<PlistValue> parseBinaryPropertyList(std::span<const std::uint8_t> bytes,
                                                  const PlistLimits& limits);
std::optional<PlistValue> parseXmlPropertyList(std::span<const std::uint8_t> bytes,
                                               const PlistLimits& limits);

using model::appendUtf8;
using model::isValidUtf8;

// "2001-01-01T00:00:00Z" <-> seconds since 2001-01-01 UTC. Parsing is strict
// (exactly that shape, fields in range); formatting floors to whole seconds and
// gives none outside years 1-9999 or for a non-finite value.
std::optional<double> parseIsoDate(std::string_view text);
std::optional<std::string> formatIsoDate(double secondsSince2001);

} // namespace vellico::formats::detail
