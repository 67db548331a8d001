#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Reader for the Mac's bookmark data: the blobs the editor stores in its
// property lists (a library's cache location, a backup's original library)
// and the data fork of a modern Finder alias file. Input is untrusted: every
// offset and length is bounds-checked, the TOC chain is cycle-checked and
// capped, unknown keys and record types are skipped, and nothing here
// recurses, throws or allocates more than a small multiple of the input.
namespace vellico::formats {

// The two header forms. `data` is the 48-byte "book" header found in
// property lists; `file` is the 56-byte "book\0\0\0\0mark\0\0\0\0" header of
// alias files. Offsets inside both are relative to the data section start.
enum class BookmarkForm { data, file };

// What a bookmark says about its target. Every field is absent when the blob
// does not hold it or holds it in a form that is not safe to use.
struct BookmarkInfo {
    BookmarkForm form = BookmarkForm::data;

    // The target's components on the Mac, from the filesystem root
    // ("Volumes", "Archive", "Cache"). Each is valid UTF-8, as stored (often
    // NFD), never empty, ".", ".." and never holding "/" or NUL. Empty when
    // the bookmark has no usable path; then targetPath is absent too.
    std::vector<std::string> pathComponents;
    // "/" + the components joined with "/": "/Volumes/Archive/Cache".
    std::optional<std::string> targetPath;

    // Mount point of the target's volume on the Mac ("/Volumes/Archive", or
    // "/" for the startup disk), normalised to "/" + components without a
    // trailing slash. Taken from the volume path key, or else from the
    // volume URL ("file:///Volumes/Archive/").
    std::optional<std::string> volumePath;
    // The volume's name as the Mac showed it; may differ from the last
    // component of volumePath ("Archive" mounted as "/Volumes/Archive 1").
    std::optional<std::string> volumeName;
    // The volume's UUID as upper-case text, as stored.
    std::optional<std::string> volumeUUID;
};

// Inputs larger than this are refused. Old bookmarks carrying icons exceed
// 1 MB, so the cap is generous.
inline constexpr std::size_t maxBookmarkBytes = 16u * 1024u * 1024u;

// Parses bookmark data of either form. None when the bytes are not a
// bookmark: wrong magic, a header whose sizes do not fit the buffer, a bad
// first TOC, or an input over maxBookmarkBytes. A bookmark whose path is
// missing or unsafe is still returned, with targetPath absent.
std::optional<BookmarkInfo> readBookmarkData(std::span<const std::uint8_t> bytes);

// True when the bytes begin with the 16-byte magic of the bookmark-file
// form, which is what identifies a modern Finder alias file by content.
bool hasBookmarkFileMagic(std::span<const std::uint8_t> bytes);

// Reads the Finder alias file `name` in the directory `dirFd` (AT_FDCWD for
// a path): a regular file, not followed if it is a symbolic link, at most
// maxBookmarkBytes long, whose content is a bookmark of the file form. None
// otherwise (a classic alias with an empty data fork, a FIFO, a plain file).
std::optional<BookmarkInfo> readAliasFileAt(int dirFd, const char* name);

} // namespace vellico::formats
