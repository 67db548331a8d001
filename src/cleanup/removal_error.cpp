#include "cleanup/removal_error.hpp"

#include "i18n/translations.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

namespace vellico::cleanup {

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
