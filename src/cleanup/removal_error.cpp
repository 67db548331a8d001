#include "cleanup/removal_error.hpp"

#include "i18n/translations.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

namespace vellico::cleanup {

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

std::string describe(const RemovalError& error)
{
    return systemErrorText(error.errorNumber);
}

std::string_view messageKey(RemovalProblem problem)
{
    switch (problem) {
    case RemovalProblem::systemError:
        return {};
    case RemovalProblem::identityUnknown:
        return "%1 n'a pas pu être identifié pendant l'analyse : il n'a pas été touché.";
    case RemovalProblem::identityChanged:
        return "%1 a changé depuis l'analyse : il n'a pas été touché.";
    case RemovalProblem::mountPointInside:
        return "%1 est un autre volume monté dans le dossier : il n'a pas été touché.";
    case RemovalProblem::mountPoint:
        return "%1 est le point de montage d'un autre volume : il n'a pas été touché.";
    case RemovalProblem::interrupted:
        return "%1 : suppression interrompue.";
    case RemovalProblem::newItems:
        return "De nouveaux éléments sont apparus dans %1 pendant la suppression : ils ont été "
               "laissés en place.";
    case RemovalProblem::holdsLibrary:
        return "%1 est la bibliothèque elle-même ou un dossier qui la contient : il n'a pas été "
               "touché.";
    case RemovalProblem::outsideBounds:
        return "%1 est hors des dossiers parcourus : il n'a pas été touché.";
    }
    return {};
}

} // namespace vellico::cleanup
