#include "platform/system_error.hpp"

#include <cstring>

namespace vellico::platform {

std::string systemErrorText(int errorNumber)
{
    // The GNU strerror_r returns a pointer to either the buffer or a static
    // string, translated through the calling thread's LC_MESSAGES; unlike
    // strerror it never shares a buffer between threads.
    char buffer[256];
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace vellico::platform
