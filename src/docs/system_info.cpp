#include "docs/system_info.hpp"

#include "platform/file_system.hpp"

#include "product_config.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace vellico::docs {

namespace {

std::string kernelRelease()
{
    utsname names{};
    if (uname(&names) != 0) {
        return {};
    }
    return names.release;
}

// os-release is a few hundred bytes; a capped, non-blocking read of a
// regular file keeps a strange one from stalling the support mail.
std::optional<std::string> readSmallFile(const char* path)
{
    const auto bytes = platform::readRegularFile(path, 64 * 1024);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

} // namespace

std::string kernelVersionTriple(std::string_view release)
{
    unsigned long numbers[3] = {0, 0, 0};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (at >= release.size() || release[at] != '.') {
                break;
            }
            ++at;
        }
        std::size_t digits = 0;
        unsigned long value = 0;
        while (at < release.size() && release[at] >= '0' && release[at] <= '9') {
            if (digits < 9) { // keeps the value in range; kernels have short numbers
                value = value * 10 + static_cast<unsigned long>(release[at] - '0');
            }
            ++digits;
            ++at;
        }
        if (digits == 0) {
            break;
        }
        numbers[i] = value;
    }
    return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
           std::to_string(numbers[2]);
}

std::string systemInfoString()
{
    return "Vellico " + std::string(config::version) + " (build " + std::string(config::build) +
           ") \u2014 Linux " + kernelVersionTriple(kernelRelease());
}

std::string prettyNameFromOsRelease(std::string_view osRelease)
{
    constexpr std::string_view key = "PRETTY_NAME=";
    std::size_t start = 0;
    while (start <= osRelease.size()) {
        std::size_t end = osRelease.find('\n', start);
        if (end == std::string_view::npos) {
            end = osRelease.size();
        }
        std::string_view line = osRelease.substr(start, end - start);
        if (line.starts_with(key)) {
            line.remove_prefix(key.size());
            std::string value;
            if (!line.empty() && (line.front() == '"' || line.front() == '\'')) {
                const char quote = line.front();
                for (std::size_t i = 1; i < line.size() && line[i] != quote; ++i) {
                    if (line[i] == '\\' && quote == '"' && i + 1 < line.size()) {
                        ++i;
                    }
                    value += line[i];
                }
            } else {
                value = line;
            }
            return value;
        }
        start = end + 1;
    }
    return {};
}

std::string operatingSystemVersionString()
{
    std::string name;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (const auto text = readSmallFile(path)) {
            name = prettyNameFromOsRelease(*text);
            if (!name.empty()) {
                break;
            }
        }
    }
    if (name.empty()) {
        name = "Linux";
    }
    const std::string release = kernelRelease();
    return release.empty() ? name : name + " (" + release + ")";
}

std::string percentEncode(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

std::string supportMailURLString()
{
    const std::string body = "Linux version: " + operatingSystemVersionString() +
                             "\nApp: Vellico\nApp version: " + std::string(config::version) + " (" +
                             std::string(config::build) + ")\n\nDescription:\n";
    return "mailto:" + std::string(config::supportEmail) +
           "?subject=" + percentEncode("Vellico \u2014 Support") + "&body=" + percentEncode(body);
}

} // namespace vellico::docs
