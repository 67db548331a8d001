#pragma once

#include <optional>
#include <string>
#include <string_view>

// "file:" URLs as the editor writes them in its records (a backup's
// "originalURL") and inside bookmark data (a volume's URL). One reader for
// both, so a path means the same wherever it was read.
namespace vellico::formats {

// The local path a "file:" URL names, percent-escapes decoded, as bytes:
// "file:///Volumes/Archive%201/" gives "/Volumes/Archive 1/". The scheme is
// matched in any case; the host must be empty or "localhost" (any case), and
// "file:/path" without a host is taken too. Escapes that decode to bytes
// that are not UTF-8 keep those bytes (names are bytes on Linux); raw bytes
// that a strict URL would escape (a blank, an accented letter) are taken as
// they are. None for another scheme, another host, a path that does not
// begin with "/", a query or fragment ("?" or "#"), a "%" not followed by two
// hex digits, and a NUL or "/" hidden in an escape ("%00", "%2F"): neither
// can be part of a file's name, so such a URL names no file here.
std::optional<std::string> pathFromFileURL(std::string_view url);

// "file://" URL text of an absolute path: every byte outside the unreserved
// set and "/" percent-encoded, so that "#", "?", "%" and non-ASCII names
// survive. pathFromFileURL gives the path back.
std::string fileURLFromPath(std::string_view path);

} // namespace vellico::formats
