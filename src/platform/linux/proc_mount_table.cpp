#include "platform/linux/proc_mount_table.hpp"

#include "platform/file_system.hpp"

#include <fcntl.h>

#include <algorithm>
#include <string>

namespace vellico::platform {

namespace {

// mountinfo is a few kilobytes; thousands of container mounts stay far below.
constexpr std::size_t maxMountInfoBytes = 8u * 1024u * 1024u;

// The kernel writes space, tab, newline and backslash in paths as \ooo.
std::string unescapeMountField(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            int value = 0;
            bool octal = true;
            for (std::size_t k = 1; k <= 3; ++k) {
                const char c = field[i + k];
                octal = octal && c >= '0' && c <= '7';
                value = value * 8 + (c - '0');
            }
            if (octal && value < 256) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The field `index` (from 0) of a space-separated line; empty when missing.
std::string_view fieldOf(std::string_view line, int index)
{
    std::size_t pos = 0;
    for (int i = 0; i < index; ++i) {
        pos = line.find(' ', pos);
        if (pos == std::string_view::npos) {
            return {};
        }
        ++pos;
    }
    const std::size_t end = line.find(' ', pos);
    return line.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

bool isVolumeDirectory(const std::filesystem::path& mountPoint)
{
    if (!mountPoint.has_relative_path() || !mountPoint.has_filename()) {
        return false;
    }
    const std::filesystem::path parent = mountPoint.parent_path();
    if (parent == "/mnt" || parent == "/media") {
        return true;
    }
    const std::filesystem::path grandParent = parent.parent_path();
    return parent.has_filename() && (grandParent == "/media" || grandParent == "/run/media");
}

} // namespace

ProcMountTable::ProcMountTable(std::filesystem::path mountInfo) : m_mountInfo(std::move(mountInfo))
{}

std::vector<std::filesystem::path> ProcMountTable::volumeDirectories() const
{
    // /proc files report a size of 0; readRegularFileAt reads until the end.
    const auto bytes = readRegularFileAt(AT_FDCWD, m_mountInfo.c_str(), maxMountInfoBytes);
    if (!bytes) {
        return {};
    }
    return parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

std::vector<std::filesystem::path> ProcMountTable::parse(std::string_view mountInfo)
{
    // Each line: id parent major:minor root mount-point options … The mount
    // point is the fifth field.
    std::vector<std::filesystem::path> result;
    std::size_t lineStart = 0;
    while (lineStart < mountInfo.size()) {
        std::size_t lineEnd = mountInfo.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = mountInfo.size();
        }
        const std::string_view line = mountInfo.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        const std::string_view field = fieldOf(line, 4);
        if (field.empty()) {
            continue;
        }
        std::filesystem::path mountPoint(unescapeMountField(field));
        // A stacked mount lists the same point twice; the last one is what
        // the path shows, but the directory is the same either way.
        if (isVolumeDirectory(mountPoint) &&
            std::find(result.begin(), result.end(), mountPoint) == result.end()) {
            result.push_back(std::move(mountPoint));
        }
    }
    return result;
}

} // namespace vellico::platform
