#pragma once

#include "platform/mount_table.hpp"

#include <filesystem>
#include <string_view>

namespace vellico::platform {

// The mount table of this process, read from /proc/self/mountinfo: the mount
// points that sit directly in a volume root (/mnt/<Label>, /media/<Label>,
// /media/<user>/<Label>, /run/media/<user>/<Label>). The user part is not
// checked: another user's mounted disk is found too, and whether it can be
// read is left to whoever opens it.
class ProcMountTable final : public MountTable {
public:
    // `mountInfo` is the file to read; tests hand in one of their own.
    explicit ProcMountTable(std::filesystem::path mountInfo = "/proc/self/mountinfo");

    std::vector<std::filesystem::path> volumeDirectories() const override;

    // The volume directories in the text of a mountinfo file.
    static std::vector<std::filesystem::path> parse(std::string_view mountInfo);

private:
    std::filesystem::path m_mountInfo;
};

} // namespace vellico::platform
