#include "i18n/system_error.hpp"

#include "i18n/translations.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

namespace vellico::i18n {

namespace {

// The errors a user meets when a folder is read or removed, with a text of
// our own in each catalogue: they follow the chosen language even where the
// system has no locale generated for it (the system's texts need one).
constexpr std::pair<int, const char*> kErrorKeys[] = {
    {ENOENT, "erreur système - ENOENT"},
    {EACCES, "erreur système - EACCES"},
    {EPERM, "erreur système - EPERM"},
    {EBUSY, "erreur système - EBUSY"},
    {EROFS, "erreur système - EROFS"},
    {ENOTEMPTY, "erreur système - ENOTEMPTY"},
    {EIO, "erreur système - EIO"},
    {ENOSPC, "erreur système - ENOSPC"},
    {ENOTDIR, "erreur système - ENOTDIR"},
    {ELOOP, "erreur système - ELOOP"},
    {ESTALE, "erreur système - ESTALE"},
    {EMFILE, "erreur système - EMFILE"},
    {ENAMETOOLONG, "erreur système - ENAMETOOLONG"},
};

} // namespace

std::string systemErrorText(int errorNumber)
{
    for (const auto& [number, key] : kErrorKeys) {
        if (number == errorNumber) {
            if (const std::string* text = i18n::active().find(key)) {
                return *text;
            }
            break;
        }
    }
    // Any other error, or no catalogue installed: the system's text. The
    // GNU strerror_r returns a pointer to either the buffer or a static
    // string, translated through the calling thread's LC_MESSAGES; unlike
    // strerror it never shares a buffer between threads.
    char buffer[256];
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace vellico::i18n
