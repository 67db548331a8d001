#include "i18n/translations.hpp"

#include "i18n_paths.hpp"

#include <system_error>

namespace vellico::i18n {

namespace {

Translations& installed()
{
    static Translations translations;
    return translations;
}

} // namespace

Translations::Translations(Language language, std::optional<Catalogue> chosen,
                           std::optional<Catalogue> french)
    : m_language(language), m_chosen(std::move(chosen)), m_french(std::move(french))
{}

const std::string* Translations::find(std::string_view key) const
{
    for (const auto* catalogue : {&m_chosen, &m_french}) {
        if (!*catalogue) {
            continue;
        }
        if (const auto* forms = (*catalogue)->find(key); forms && !forms->empty()) {
            return &forms->front();
        }
    }
    return nullptr;
}

const std::string* Translations::findPlural(std::string_view key, std::int64_t n) const
{
    if (m_chosen) {
        if (const auto* forms = m_chosen->find(key); forms && !forms->empty()) {
            const std::size_t index = pluralIndex(m_language, n);
            return &(*forms)[index < forms->size() ? index : forms->size() - 1];
        }
    }
    if (m_french) {
        if (const auto* forms = m_french->find(key); forms && !forms->empty()) {
            const std::size_t index = pluralIndex(Language::french, n);
            return &(*forms)[index < forms->size() ? index : forms->size() - 1];
        }
    }
    return nullptr;
}

std::string Translations::text(std::string_view key) const
{
    const std::string* found = find(key);
    return found ? *found : std::string(key);
}

std::string Translations::plural(std::string_view key, std::int64_t n) const
{
    const std::string* found = findPlural(key, n);
    return found ? *found : std::string(key);
}

std::vector<std::filesystem::path> catalogueDirectories()
{
    std::vector<std::filesystem::path> directories;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        directories.push_back(program.parent_path().parent_path() / "share" / "locale");
    }
    directories.emplace_back(paths::installedLocaleDir);
    directories.emplace_back(paths::buildLocaleDir);
    return directories;
}

std::filesystem::path cataloguePath(const std::filesystem::path& directory, Language language)
{
    return directory / std::string(catalogueName(language)) / "LC_MESSAGES" / "vellico.mo";
}

Translations loadTranslations(Language language,
                              const std::vector<std::filesystem::path>& directories)
{
    auto load = [&](Language which) -> std::optional<Catalogue> {
        for (const auto& directory : directories) {
            if (auto catalogue = Catalogue::load(cataloguePath(directory, which))) {
                return catalogue;
            }
        }
        return std::nullopt;
    };
    std::optional<Catalogue> french = load(Language::french);
    std::optional<Catalogue> chosen = language == Language::french ? std::nullopt : load(language);
    return Translations(language, std::move(chosen), std::move(french));
}

const Translations& active()
{
    return installed();
}

void install(Translations translations)
{
    installed() = std::move(translations);
}

Language activeLanguage()
{
    return active().language();
}

std::string text(std::string_view key)
{
    return active().text(key);
}

std::string plural(std::string_view key, std::int64_t n)
{
    return active().plural(key, n);
}

std::string fillPlaceholders(std::string_view pattern, const std::vector<std::string>& args)
{
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size()) {
                out += args[index];
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string fill(std::string_view key, std::initializer_list<std::string> args)
{
    return fillPlaceholders(text(key), args);
}

std::string fillPlural(std::string_view key, std::int64_t n,
                       std::initializer_list<std::string> otherArgs)
{
    std::vector<std::string> args{formatCount(n)};
    args.insert(args.end(), otherArgs.begin(), otherArgs.end());
    return fillPlaceholders(plural(key, n), args);
}

std::string formatCount(std::int64_t n)
{
    return formatCount(n, activeLanguage());
}

model::ByteUnits byteUnits()
{
    model::ByteUnits units;
    units.zero = text("Zéro Ko");
    units.byte = text("octet");
    units.bytes = text("octets");
    units.kilo = text("Ko");
    units.mega = text("Mo");
    units.giga = text("Go");
    units.tera = text("To");
    units.decimalSeparator = numberFormat(activeLanguage()).decimalSeparator;
    return units;
}

std::string formatBytes(std::int64_t bytes)
{
    return model::formatByteCount(bytes, byteUnits());
}

} // namespace vellico::i18n
