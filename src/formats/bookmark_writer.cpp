#include "formats/bookmark_writer.hpp"

#include <algorithm>

namespace vellico::formats {

namespace {

constexpr std::uint32_t typeString = 0x0101;
constexpr std::uint32_t typeArray = 0x0601;
constexpr std::uint32_t typeUrl = 0x0901;
constexpr std::uint32_t typeToc = 0xFFFFFFFE;
constexpr std::uint32_t version = 0x10040000;
constexpr std::uint32_t magicBook = 0x6b6f6f62; // "book" read as a little-endian u32
constexpr std::uint32_t magicMark = 0x6b72616d; // "mark"

void putU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void setU32(std::vector<std::uint8_t>& out, std::size_t pos, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        out[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::uint32_t tocSize(std::size_t count)
{
    return static_cast<std::uint32_t>(20 + 12 * count);
}

} // namespace

std::size_t BookmarkWriter::dataStart(BookmarkForm form)
{
    return form == BookmarkForm::file ? 56 : 48;
}

std::uint32_t BookmarkWriter::addRecord(std::uint32_t type, std::span<const std::uint8_t> payload)
{
    const auto offset = static_cast<std::uint32_t>(m_records.size());
    putU32(m_records, static_cast<std::uint32_t>(payload.size()));
    putU32(m_records, type);
    m_records.insert(m_records.end(), payload.begin(), payload.end());
    while (m_records.size() % 4 != 0) {
        m_records.push_back(0);
    }
    return offset;
}

std::uint32_t BookmarkWriter::addString(std::string_view text)
{
    if (const auto it = m_strings.find(text); it != m_strings.end()) {
        return it->second;
    }
    const std::uint32_t offset = addRecord(typeString, bytesOf(text));
    m_strings.emplace(std::string(text), offset);
    return offset;
}

std::uint32_t BookmarkWriter::addArray(std::span<const std::uint32_t> elements)
{
    std::vector<std::uint8_t> payload;
    for (const std::uint32_t e : elements) {
        putU32(payload, e);
    }
    return addRecord(typeArray, payload);
}

void BookmarkWriter::addToc(std::uint32_t id, std::vector<BookmarkTocEntry> entries)
{
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const BookmarkTocEntry& a, const BookmarkTocEntry& b) { return a.key < b.key; });
    m_tocs.push_back({id, std::move(entries)});
}

std::uint32_t BookmarkWriter::tocOffset(std::size_t index) const
{
    std::size_t offset = m_records.size();
    for (std::size_t i = 0; i < index && i < m_tocs.size(); ++i) {
        offset += tocSize(m_tocs[i].entries.size());
    }
    return static_cast<std::uint32_t>(offset);
}

std::vector<std::uint8_t> BookmarkWriter::finish(BookmarkForm form) const
{
    std::vector<std::uint8_t> out;
    if (form == BookmarkForm::file) {
        putU32(out, magicBook);
        putU32(out, 0);
        putU32(out, magicMark);
        putU32(out, 0);
        putU32(out, 56);
        putU32(out, 56);
        putU32(out, 0); // data length, filled in below
        putU32(out, version);
    } else {
        putU32(out, magicBook);
        putU32(out, 0); // total length, filled in below
        putU32(out, version);
        putU32(out, 48);
    }
    out.resize(dataStart(form), 0);

    const std::size_t start = out.size();
    out.insert(out.end(), m_records.begin(), m_records.end());
    if (!m_tocs.empty()) {
        setU32(out, start, tocOffset(0));
    }
    for (std::size_t i = 0; i < m_tocs.size(); ++i) {
        const auto& entries = m_tocs[i].entries;
        // Apple's length counts the id, next and count fields: 12 + 12·count.
        putU32(out, tocSize(entries.size()) - 8);
        putU32(out, typeToc);
        putU32(out, m_tocs[i].id);
        putU32(out, i + 1 < m_tocs.size() ? tocOffset(i + 1) : 0);
        putU32(out, static_cast<std::uint32_t>(entries.size()));
        for (const BookmarkTocEntry& e : entries) {
            putU32(out, e.key);
            putU32(out, e.offset);
            putU32(out, 0);
        }
    }

    if (form == BookmarkForm::file) {
        setU32(out, 24, static_cast<std::uint32_t>(out.size() - start));
    } else {
        setU32(out, 4, static_cast<std::uint32_t>(out.size()));
    }
    return out;
}

std::vector<std::uint8_t> makeBookmarkData(const BookmarkTarget& shape)
{
    BookmarkWriter writer;
    std::vector<BookmarkTocEntry> entries;

    std::vector<std::uint32_t> components;
    for (const std::string& c : shape.pathComponents) {
        components.push_back(writer.addString(c));
    }
    entries.push_back({0x1004, writer.addArray(components)});
    if (shape.volumePath) {
        entries.push_back({0x2002, writer.addString(*shape.volumePath)});
    }
    if (shape.volumeURL) {
        entries.push_back({0x2005, writer.addRecord(typeUrl, bytesOf(*shape.volumeURL))});
    }
    if (shape.volumeName) {
        entries.push_back({0x2010, writer.addString(*shape.volumeName)});
    }
    if (shape.volumeUUID) {
        entries.push_back({0x2011, writer.addString(*shape.volumeUUID)});
    }
    writer.addToc(1, std::move(entries));
    return writer.finish(shape.form);
}

} // namespace vellico::formats
