#include "formats/file_url.hpp"

namespace vellico::formats {

namespace {

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != b[i]) {
            return false;
        }
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::optional<std::string> pathFromFileURL(std::string_view url)
{
    constexpr std::string_view scheme = "file:";
    if (url.size() < scheme.size() || !equalsIgnoringCase(url.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme.size());
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !equalsIgnoringCase(host, "localhost")) {
            return std::nullopt; // another machine's file
        }
        rest.remove_prefix(host.size());
    }
    // A query or fragment has no meaning for a local file; an editor's URL
    // escapes "?" and "#" in names, so a raw one means the text is no path.
    if (!rest.starts_with('/') || rest.find_first_of(std::string_view("?#\0", 3)) != rest.npos) {
        return std::nullopt;
    }
    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int hi = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int lo = i + 2 < rest.size() ? hexValue(rest[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        const char byte = static_cast<char>(hi * 16 + lo);
        if (byte == '\0' || byte == '/') {
            return std::nullopt;
        }
        path += byte;
        i += 2;
    }
    return path;
}

std::string fileURLFromPath(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 0xF];
        }
    }
    return url;
}

} // namespace vellico::formats
