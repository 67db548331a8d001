#include "model/names.hpp"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace vellico::model {

bool isAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string normalizedName(std::string_view name)
{
    if (isAscii(name)) {
        return std::string(name); // already NFC; the common case costs nothing
    }
    utf8proc_uint8_t* out = nullptr;
    const utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                     static_cast<utf8proc_ssize_t>(name.size()), &out,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> holder(out, &std::free);
    if (n < 0) {
        return std::string(name); // not UTF-8: bytes compare as bytes
    }
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

bool namesEqual(std::string_view a, std::string_view b)
{
    if (a == b) {
        return true;
    }
    return normalizedName(a) == normalizedName(b);
}

bool isSinglePathComponent(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

} // namespace vellico::model
