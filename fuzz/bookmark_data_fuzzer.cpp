// libFuzzer harness for the bookmark reader. Every field of the result is
// folded into a value the fuzzer cannot see through, so the parse is never
// optimised away; the invariants the reader promises are checked as well.
#include "formats/bookmark_data.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

volatile std::size_t g_sink = 0;

void consume(const std::optional<std::string>& text)
{
    if (text) {
        g_sink =
            g_sink + text->size() + (text->empty() ? 0 : static_cast<unsigned char>(text->back()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const auto info = vellico::formats::readBookmarkData(bytes);
    g_sink = g_sink + vellico::formats::hasBookmarkFileMagic(bytes);
    if (!info) {
        return 0;
    }
    g_sink = g_sink + static_cast<std::size_t>(info->form);
    consume(info->targetPath);
    consume(info->volumePath);
    consume(info->volumeName);
    consume(info->volumeUUID);
    // A path is present exactly when components are, and no component can
    // climb out of the directory it is joined to.
    if (info->targetPath.has_value() == info->pathComponents.empty()) {
        std::abort();
    }
    for (const std::string& c : info->pathComponents) {
        if (c.empty() || c == "." || c == ".." || c.find('/') != std::string::npos ||
            c.find('\0') != std::string::npos) {
            std::abort();
        }
        g_sink = g_sink + c.size();
    }
    return 0;
}
