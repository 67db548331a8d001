#include "formats/bookmark_data.hpp"

#include "formats/file_url.hpp"
#include "model/utf8.hpp"
#include "platform/file_system.hpp"

#include <array>
#include <string_view>

namespace vellico::formats {

namespace {

// Record types (high 24 bits: class, low byte: subtype).
constexpr std::uint32_t typeString = 0x0101;
constexpr std::uint32_t typeInt8 = 0x0301;
constexpr std::uint32_t typeInt16 = 0x0302;
constexpr std::uint32_t typeInt32 = 0x0303;
constexpr std::uint32_t typeInt64 = 0x0304;
constexpr std::uint32_t typeFloat32 = 0x0305;
constexpr std::uint32_t typeFloat64 = 0x0306;
constexpr std::uint32_t typeDate = 0x0400;
constexpr std::uint32_t typeFalse = 0x0500;
constexpr std::uint32_t typeTrue = 0x0501;
constexpr std::uint32_t typeArray = 0x0601;
constexpr std::uint32_t typeDictionary = 0x0701;
constexpr std::uint32_t typeUuid = 0x0801;
constexpr std::uint32_t typeUrl = 0x0901;
constexpr std::uint32_t typeRelativeUrl = 0x0902;
constexpr std::uint32_t typeNull = 0x0A01;
constexpr std::uint32_t typeToc = 0xFFFFFFFE;

constexpr std::uint32_t keyPathComponents = 0x1004;
constexpr std::uint32_t keyVolumePath = 0x2002;
constexpr std::uint32_t keyVolumeUrl = 0x2005;
constexpr std::uint32_t keyVolumeName = 0x2010;
constexpr std::uint32_t keyVolumeUuid = 0x2011;

constexpr std::size_t formAHeaderSize = 48;
constexpr std::size_t formBHeaderSize = 56;
constexpr std::array<std::uint8_t, 16> fileMagic = {'b', 'o', 'o', 'k', 0, 0, 0, 0,
                                                    'm', 'a', 'r', 'k', 0, 0, 0, 0};

// A hostile chain or table stops here long before it costs anything.
constexpr std::size_t maxTocs = 64;
constexpr std::uint64_t maxTocEntries = 4096;
// Linux's PATH_MAX; a Mac path is at most 1024 bytes. This cap also bounds
// the work for an array whose elements all point at one large record.
constexpr std::size_t maxPathBytes = 4096;
constexpr std::size_t maxVolumeNameBytes = 1024;
constexpr std::size_t maxUuidBytes = 64;

std::uint32_t u32At(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    // Callers check pos + 4 <= bytes.size() first.
    return static_cast<std::uint32_t>(bytes[pos]) |
           (static_cast<std::uint32_t>(bytes[pos + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[pos + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[pos + 3]) << 24);
}

std::string_view asText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Plain text for a name or an identifier: valid UTF-8 without NUL.
bool isCleanText(std::string_view text)
{
    return text.find('\0') == std::string_view::npos && model::isValidUtf8(text);
}

// A path component that cannot leave the directory it is joined to.
bool isSafeComponent(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && isCleanText(name);
}

// Whether a payload of n bytes is well-formed for the record type. Types we
// do not know are accepted here and simply never asked for.
bool sizeFitsType(std::uint32_t type, std::uint64_t n)
{
    switch (type) {
    case typeInt8:
        return n == 1;
    case typeInt16:
        return n == 2;
    case typeInt32:
    case typeFloat32:
        return n == 4;
    case typeInt64:
    case typeFloat64:
    case typeDate:
    case typeRelativeUrl:
        return n == 8;
    case typeFalse:
    case typeTrue:
    case typeNull:
        return n == 0;
    case typeArray:
        return n % 4 == 0;
    case typeDictionary:
        return n % 8 == 0;
    case typeUuid:
        return n == 16;
    default:
        return true;
    }
}

struct Record {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> payload;
};

struct Toc {
    std::span<const std::uint8_t> entries; // count × (key, offset, reserved)
    std::uint32_t next = 0;
};

// The data section: everything from D to the end E. Every offset stored in
// the blob is relative to its start, so every check is made against its size.
class Section {
public:
    explicit Section(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::optional<std::uint32_t> firstTocOffset() const
    {
        if (m_bytes.size() < 4) {
            return std::nullopt;
        }
        return u32At(m_bytes, 0);
    }

    // The record at `offset`, when its header and payload lie inside the
    // section and its size fits its type.
    std::optional<Record> record(std::uint64_t offset) const
    {
        const std::uint64_t size = m_bytes.size();
        if (size < 8 || offset > size - 8) {
            return std::nullopt;
        }
        const std::uint64_t n = u32At(m_bytes, offset);
        if (n > size - offset - 8) {
            return std::nullopt;
        }
        Record rec;
        rec.type = u32At(m_bytes, offset + 4);
        if (!sizeFitsType(rec.type, n)) {
            return std::nullopt;
        }
        rec.payload = m_bytes.subspan(offset + 8, n);
        return rec;
    }

    // The TOC at `offset`. Its own length field is not trusted (one known
    // writer gets it wrong): the entries are bounded by the count, and the
    // count by the bytes left in the section, so a huge count fails at once.
    std::optional<Toc> toc(std::uint64_t offset) const
    {
        const std::uint64_t size = m_bytes.size();
        if (size < 20 || offset > size - 20) {
            return std::nullopt;
        }
        if (u32At(m_bytes, offset + 4) != typeToc) {
            return std::nullopt;
        }
        const std::uint64_t count = u32At(m_bytes, offset + 16);
        if (count > maxTocEntries || 12 * count > size - offset - 20) {
            return std::nullopt;
        }
        Toc result;
        result.next = u32At(m_bytes, offset + 12);
        result.entries = m_bytes.subspan(offset + 20, 12 * count);
        return result;
    }

    // A string record's text when it is valid UTF-8.
    std::optional<std::string_view> text(std::uint64_t offset, std::size_t maxBytes) const
    {
        const auto rec = record(offset);
        if (!rec || rec->type != typeString || rec->payload.size() > maxBytes) {
            return std::nullopt;
        }
        const std::string_view value = asText(rec->payload);
        if (!model::isValidUtf8(value)) {
            return std::nullopt;
        }
        return value;
    }

    // An array of strings read as path components. Elements must be string
    // records: an element that is itself an array (including the array
    // pointing at itself) fails, so nothing nests and nothing recurses.
    std::optional<std::vector<std::string>> components(const Record& array) const
    {
        if (array.type != typeArray) {
            return std::nullopt;
        }
        std::vector<std::string> result;
        std::size_t total = 0;
        for (std::size_t pos = 0; pos + 4 <= array.payload.size(); pos += 4) {
            const auto name = text(u32At(array.payload, pos), maxPathBytes);
            if (!name || !isSafeComponent(*name)) {
                return std::nullopt;
            }
            total += name->size() + 1;
            if (total > maxPathBytes) {
                return std::nullopt;
            }
            result.emplace_back(*name);
        }
        return result;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

// The TOCs of a bookmark, first one first. A key is looked up in the first
// TOC that has it: the first describes the target's volume, later ones other
// volumes (the startup disk…) and only fill in keys the first lacks.
class TocChain {
public:
    std::vector<Toc> tocs;

    std::optional<std::uint32_t> find(std::uint32_t key) const
    {
        for (const Toc& t : tocs) {
            for (std::size_t pos = 0; pos + 12 <= t.entries.size(); pos += 12) {
                if (u32At(t.entries, pos) == key) {
                    return u32At(t.entries, pos + 4);
                }
            }
        }
        return std::nullopt;
    }
};

std::optional<TocChain> readTocChain(const Section& section)
{
    const auto first = section.firstTocOffset();
    if (!first) {
        return std::nullopt;
    }
    auto toc = section.toc(*first);
    if (!toc) {
        return std::nullopt; // a bad first TOC: not a bookmark we can read
    }
    TocChain chain;
    std::vector<std::uint32_t> visited{*first};
    chain.tocs.push_back(*toc);
    // A bad later TOC, a cycle or an overlong chain ends the chain quietly.
    while (chain.tocs.back().next != 0 && chain.tocs.size() < maxTocs) {
        const std::uint32_t next = chain.tocs.back().next;
        bool seen = false;
        for (const std::uint32_t v : visited) {
            seen = seen || v == next;
        }
        if (seen) {
            break;
        }
        toc = section.toc(next);
        if (!toc) {
            break;
        }
        visited.push_back(next);
        chain.tocs.push_back(*toc);
    }
    return chain;
}

std::string joinPath(const std::vector<std::string>& components)
{
    if (components.empty()) {
        return "/";
    }
    std::string path;
    for (const std::string& c : components) {
        path += '/';
        path += c;
    }
    return path;
}

// An absolute path split into safe components; empty pieces (a trailing or
// doubled slash) are ignored. None for a relative or unsafe path.
std::optional<std::vector<std::string>> splitAbsolutePath(std::string_view path)
{
    if (path.empty() || path.front() != '/' || path.size() > maxPathBytes) {
        return std::nullopt;
    }
    std::vector<std::string> result;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view piece = path.substr(start, end - start);
        if (!piece.empty()) {
            if (!isSafeComponent(piece)) {
                return std::nullopt;
            }
            result.emplace_back(piece);
        }
        start = end + 1;
    }
    return result;
}

std::optional<std::vector<std::string>> volumePathComponents(const Section& section,
                                                             const TocChain& chain)
{
    if (const auto offset = chain.find(keyVolumePath)) {
        // A string in every known sample; an array of components in one
        // description of the format.
        const auto rec = section.record(*offset);
        if (!rec) {
            return std::nullopt;
        }
        if (rec->type == typeArray) {
            return section.components(*rec);
        }
        const auto path = section.text(*offset, maxPathBytes);
        return path ? splitAbsolutePath(*path) : std::nullopt;
    }
    if (const auto offset = chain.find(keyVolumeUrl)) {
        const auto rec = section.record(*offset);
        if (!rec || (rec->type != typeUrl && rec->type != typeString) ||
            rec->payload.size() > 3 * maxPathBytes) {
            return std::nullopt;
        }
        const auto path = pathFromFileURL(asText(rec->payload));
        return path ? splitAbsolutePath(*path) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> volumeUuid(const Section& section, const TocChain& chain)
{
    const auto offset = chain.find(keyVolumeUuid);
    if (!offset) {
        return std::nullopt;
    }
    const auto rec = section.record(*offset);
    if (!rec) {
        return std::nullopt;
    }
    if (rec->type == typeUuid) {
        // Stored as text in every sample; the binary form is formatted the
        // way the text form reads.
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string result;
        for (std::size_t i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) {
                result += '-';
            }
            result += digits[rec->payload[i] >> 4];
            result += digits[rec->payload[i] & 0x0F];
        }
        return result;
    }
    const auto text = section.text(*offset, maxUuidBytes);
    if (!text || text->empty() || !isCleanText(*text)) {
        return std::nullopt;
    }
    return std::string(*text);
}

// The data section of the blob, after the header checks of either form.
std::optional<std::span<const std::uint8_t>> dataSection(std::span<const std::uint8_t> bytes,
                                                         BookmarkForm& form)
{
    const std::uint64_t length = bytes.size();
    if (hasBookmarkFileMagic(bytes)) {
        form = BookmarkForm::file;
        if (length < formBHeaderSize + 4) {
            return std::nullopt;
        }
        const std::uint64_t start = u32At(bytes, 16);
        const std::uint64_t dataLength = u32At(bytes, 24);
        // The data length must at least hold the first TOC's offset.
        if (start < formBHeaderSize || start > length - 4 || dataLength < 4 ||
            dataLength > length - start) {
            return std::nullopt;
        }
        return bytes.subspan(start, dataLength);
    }
    form = BookmarkForm::data;
    if (length < formAHeaderSize + 4 || bytes[0] != 'b' || bytes[1] != 'o' || bytes[2] != 'o' ||
        bytes[3] != 'k') {
        return std::nullopt;
    }
    // The stored total length ends the blob: a property list may hand us a
    // buffer with trailing bytes, but never one shorter than the blob.
    const std::uint64_t end = u32At(bytes, 4);
    const std::uint64_t start = u32At(bytes, 12);
    if (end > length || end < 20 || start < 16 || start > end - 4) {
        return std::nullopt;
    }
    return bytes.subspan(start, end - start);
}

} // namespace

bool hasBookmarkFileMagic(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < fileMagic.size()) {
        return false;
    }
    for (std::size_t i = 0; i < fileMagic.size(); ++i) {
        if (bytes[i] != fileMagic[i]) {
            return false;
        }
    }
    return true;
}

std::optional<BookmarkInfo> readBookmarkData(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > maxBookmarkBytes) {
        return std::nullopt;
    }
    BookmarkInfo info;
    const auto sectionBytes = dataSection(bytes, info.form);
    if (!sectionBytes) {
        return std::nullopt;
    }
    const Section section(*sectionBytes);
    const auto chain = readTocChain(section);
    if (!chain) {
        return std::nullopt;
    }

    if (const auto offset = chain->find(keyPathComponents)) {
        const auto rec = section.record(*offset);
        auto components = rec ? section.components(*rec) : std::nullopt;
        // An empty list would name the root of the Mac's startup disk: never
        // a library, a cache or a backup, so it counts as no path at all.
        if (components && !components->empty()) {
            info.targetPath = joinPath(*components);
            info.pathComponents = std::move(*components);
        }
    }
    if (const auto components = volumePathComponents(section, *chain)) {
        info.volumePath = joinPath(*components);
    }
    if (const auto offset = chain->find(keyVolumeName)) {
        const auto name = section.text(*offset, maxVolumeNameBytes);
        if (name && !name->empty() && isCleanText(*name)) {
            info.volumeName = std::string(*name);
        }
    }
    info.volumeUUID = volumeUuid(section, *chain);
    return info;
}

std::optional<BookmarkInfo> readAliasFileAt(int dirFd, const char* name)
{
    const auto bytes = platform::readRegularFileAt(dirFd, name, maxBookmarkBytes);
    if (!bytes || !hasBookmarkFileMagic(*bytes)) {
        return std::nullopt;
    }
    return readBookmarkData(*bytes);
}

} // namespace vellico::formats
