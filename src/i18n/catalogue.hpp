#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellico::i18n {

// One compiled message catalogue (the GNU .mo format that msgfmt writes):
// each key (the French text, or a descriptive key such as "intro - titre")
// with its translation, or one translation per plural form. The C library's
// gettext is not used because it only translates for a locale generated on
// the system; this reader needs nothing but the file.
//
// Untrusted bytes are safe: every length and offset is checked against the
// buffer, and a file that is not a catalogue gives none.
class Catalogue {
public:
    // Larger files are refused; a full catalogue is a few tens of kilobytes.
    static constexpr std::size_t maxBytes = 4 * 1024 * 1024;

    // The catalogue in `bytes`; none when they are not a well-formed .mo file
    // of format revision 0 (either byte order).
    static std::optional<Catalogue> parse(std::string_view bytes);

    // The catalogue in a regular file of at most maxBytes; none when it is
    // missing, unreadable or not a catalogue.
    static std::optional<Catalogue> load(const std::filesystem::path& file);

    // The translations of `key`: one, or one per plural form. Null when the
    // catalogue has no entry for it (msgfmt leaves out unfinished entries).
    const std::vector<std::string>* find(std::string_view key) const;

    // Every key, in no particular order (not the header's empty key).
    std::vector<std::string> keys() const;

    // A field of the header entry ("Plural-Forms", "Language"), trimmed;
    // empty when absent.
    std::string headerField(std::string_view name) const;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const
        {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, std::vector<std::string>, Hash, std::equal_to<>> m_entries;
    std::string m_header;
};

} // namespace vellico::i18n
