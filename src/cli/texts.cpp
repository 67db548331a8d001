#include "cli/texts.hpp"

#include "i18n/translations.hpp"

#include <cstdlib>

namespace vellico::cli {

std::string lookup(std::string_view key)
{
    return i18n::text(key);
}

std::string fill(std::string_view key, std::initializer_list<std::string> args)
{
    return i18n::fill(key, args);
}

std::string formatBytes(std::int64_t bytes)
{
    return i18n::formatBytes(bytes);
}

std::string statusText(const analysis::StatusText& status)
{
    return i18n::fillPlaceholders(i18n::text(status.key), status.args);
}

std::string intakeMessage(const analysis::IntakeError& error)
{
    using Kind = analysis::IntakeError::Kind;
    switch (error.kind) {
    case Kind::missing:
        return fill("« %1 » est introuvable.", {error.text});
    case Kind::aliasUnresolvable:
        return fill("alias - résolution impossible « %1 »", {error.text});
    case Kind::notALibrary:
        return fill("« %1 » n'est pas une bibliothèque Final Cut Pro valide.", {error.text});
    case Kind::locked:
        return fill("« %1 » est verrouillée. Déverrouillez-la dans le Finder avant de continuer.",
                    {error.text});
    }
    return {};
}

std::string noticeMessage(const model::AnalysisNotice& notice)
{
    using Kind = model::AnalysisNotice::Kind;
    switch (notice.kind) {
    case Kind::mountPoint:
        return fill("« %1 » est le point de montage d'un autre système de fichiers : il "
                    "n'appartient pas à la bibliothèque et n'est ni mesuré ni supprimé.",
                    {notice.subject});
    case Kind::unsafeName:
        return fill("le nom « %1 » lu dans « %2 » n'est pas un simple nom de dossier : il est "
                    "ignoré.",
                    {notice.value, notice.subject});
    }
    return {};
}

void useEnvironmentLanguage()
{
    const i18n::Language language =
        i18n::chooseLanguage([](const char* name) { return std::getenv(name); });
    i18n::install(i18n::loadTranslations(language, i18n::catalogueDirectories()));
}

} // namespace vellico::cli
