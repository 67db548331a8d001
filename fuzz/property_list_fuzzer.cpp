// libFuzzer harness for the property-list readers. Besides "never crash", it
// checks that whatever parses survives our writers: binary output reads back
// and writes out the same bytes, XML output likewise. Every result is used,
// so the optimiser cannot drop a call.

#include "formats/binary_plist_writer.hpp"
#include "formats/property_list.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace vellico::formats;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<PlistValue> value = parsePropertyList(std::span(data, size));
    if (!value) {
        return 0;
    }
    const auto binary = toBinaryPropertyList(*value);
    if (!binary) {
        __builtin_trap(); // every parsed value can be written as binary
    }
    // A small file may expand (one string referenced many times): let the
    // re-read take any size, with the other limits as they were.
    PlistLimits roomy;
    roomy.maxBytes = std::size_t{1} << 30;
    const auto again = parsePropertyList(*binary, roomy);
    if (!again || toBinaryPropertyList(*again) != binary) {
        __builtin_trap();
    }
    // XML refuses some values (UIDs, dates outside years 1-9999); when it
    // writes one, reading it back must give a value that writes the same text.
    if (const auto xml = toXmlPropertyList(*value)) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(xml->data());
        const auto fromXml = parsePropertyList(std::span(bytes, xml->size()), roomy);
        if (!fromXml || toXmlPropertyList(*fromXml) != xml) {
            __builtin_trap();
        }
    }
    return 0;
}
