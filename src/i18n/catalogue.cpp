#include "i18n/catalogue.hpp"

#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vellico::i18n {

namespace {

constexpr std::uint32_t magic = 0x950412de;
constexpr std::size_t headerBytes = 28;

class Reader {
public:
    Reader(std::string_view bytes, bool littleEndian) : m_bytes(bytes), m_littleEndian(littleEndian)
    {}

    std::optional<std::uint32_t> word(std::size_t offset) const
    {
        if (offset > m_bytes.size() || m_bytes.size() - offset < 4) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const auto byte =
                static_cast<std::uint8_t>(m_bytes[offset + (m_littleEndian ? 3 - i : i)]);
            value = (value << 8) | byte;
        }
        return value;
    }

    // The string whose length and offset stand at `descriptor`; msgfmt ends
    // each with a NUL byte that the length does not count.
    std::optional<std::string_view> string(std::size_t descriptor) const
    {
        const auto length = word(descriptor);
        const auto offset = word(descriptor + 4);
        if (!length || !offset || *offset > m_bytes.size() || m_bytes.size() - *offset <= *length ||
            m_bytes[*offset + *length] != '\0') {
            return std::nullopt;
        }
        return m_bytes.substr(*offset, *length);
    }

private:
    std::string_view m_bytes;
    bool m_littleEndian;
};

// msgfmt writes the words in the byte order of the machine that ran it.
std::optional<bool> byteOrder(std::string_view bytes)
{
    if (bytes.size() < headerBytes) {
        return std::nullopt;
    }
    for (const bool littleEndian : {true, false}) {
        if (Reader(bytes, littleEndian).word(0) == magic) {
            return littleEndian;
        }
    }
    return std::nullopt;
}

std::vector<std::string> splitAtNul(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = text.find('\0', start);
        parts.emplace_back(text.substr(start, nul - start));
        if (nul == std::string_view::npos) {
            return parts;
        }
        start = nul + 1;
    }
}

} // namespace

std::optional<Catalogue> Catalogue::parse(std::string_view bytes)
{
    const auto littleEndian = byteOrder(bytes);
    if (!littleEndian || bytes.size() > maxBytes) {
        return std::nullopt;
    }
    const Reader reader(bytes, *littleEndian);
    const auto revision = reader.word(4);
    const auto count = reader.word(8);
    const auto keysAt = reader.word(12);
    const auto valuesAt = reader.word(16);
    // Only the major revision matters: minor revisions add nothing a reader
    // of plain entries needs.
    if (!revision || (*revision >> 16) != 0 || !count || !keysAt || !valuesAt ||
        *count > bytes.size() / 8) {
        return std::nullopt;
    }
    Catalogue catalogue;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto key = reader.string(*keysAt + std::size_t{8} * i);
        const auto value = reader.string(*valuesAt + std::size_t{8} * i);
        if (!key || !value) {
            return std::nullopt;
        }
        if (key->empty()) {
            catalogue.m_header = std::string(*value);
            continue;
        }
        // A plural entry's key is "singular\0plural"; it is found by the singular.
        const std::string_view singular = key->substr(0, key->find('\0'));
        catalogue.m_entries[std::string(singular)] = splitAtNul(*value);
    }
    return catalogue;
}

std::optional<Catalogue> Catalogue::load(const std::filesystem::path& file)
{
    // Non-blocking, so a FIFO in place of a catalogue cannot hang the program.
    const auto bytes = platform::readRegularFile(file, maxBytes);
    if (!bytes) {
        return std::nullopt;
    }
    return parse(std::string(bytes->begin(), bytes->end()));
}

const std::vector<std::string>* Catalogue::find(std::string_view key) const
{
    const auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

std::vector<std::string> Catalogue::keys() const
{
    std::vector<std::string> out;
    out.reserve(m_entries.size());
    for (const auto& entry : m_entries) {
        out.push_back(entry.first);
    }
    return out;
}

std::string Catalogue::headerField(std::string_view name) const
{
    std::string_view rest = m_header;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            line.remove_prefix(name.size() + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
                line.remove_suffix(1);
            }
            return std::string(line);
        }
    }
    return {};
}

} // namespace vellico::i18n
