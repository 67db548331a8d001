#pragma once

#include "formats/bookmark_data.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A small writer of bookmark data, laid out as the Mac lays it out: header,
// the first TOC's offset, the records, then the TOCs. For tests and the
// sample-library generator; it writes what it is given without judging it,
// so tests can also build blobs that are wrong on purpose.
namespace vellico::formats {

struct BookmarkTocEntry {
    std::uint32_t key = 0;
    std::uint32_t offset = 0; // of the value record, relative to the data section
};

class BookmarkWriter {
public:
    // Offset of the data section in a blob of the given form (48 or 56):
    // every offset this writer returns is relative to it.
    static std::size_t dataStart(BookmarkForm form);

    // Appends a record (padded to 4 bytes) and returns its offset.
    std::uint32_t addRecord(std::uint32_t type, std::span<const std::uint8_t> payload);
    // A string record. The same text added twice shares one record, the way
    // the Mac shares a volume's name with the path component naming it.
    std::uint32_t addString(std::string_view text);
    // An array record whose elements are the records at these offsets.
    std::uint32_t addArray(std::span<const std::uint32_t> elements);

    // Adds a TOC. TOCs are written after every record, in the order added,
    // each linked to the next; the entries are sorted by key.
    void addToc(std::uint32_t id, std::vector<BookmarkTocEntry> entries);
    // Offset of the TOC added `index`-th, valid once every record is added.
    std::uint32_t tocOffset(std::size_t index) const;

    std::vector<std::uint8_t> finish(BookmarkForm form) const;

private:
    struct PendingToc {
        std::uint32_t id = 0;
        std::vector<BookmarkTocEntry> entries;
    };

    std::vector<std::uint8_t> m_records = std::vector<std::uint8_t>(4, 0); // first TOC offset
    std::map<std::string, std::uint32_t, std::less<>> m_strings;
    std::vector<PendingToc> m_tocs;
};

// The usual bookmark: one TOC with the path components and whatever volume
// fields are set.
struct BookmarkTarget {
    BookmarkForm form = BookmarkForm::data;
    std::vector<std::string> pathComponents; // "Volumes", "Archive", "Cache"
    std::optional<std::string> volumePath;   // "/Volumes/Archive"
    std::optional<std::string> volumeURL;    // "file:///Volumes/Archive/"
    std::optional<std::string> volumeName;   // "Archive"
    std::optional<std::string> volumeUUID;   // upper-case text
};

std::vector<std::uint8_t> makeBookmarkData(const BookmarkTarget& shape);

} // namespace vellico::formats
