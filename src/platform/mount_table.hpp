#pragma once

#include <filesystem>
#include <utility>
#include <vector>

namespace vellico::platform {

// The directories where this machine mounts removable and network volumes,
// each named after its volume's label: /media/<user>/<Label>,
// /run/media/<user>/<Label>, /mnt/<Label>, /media/<Label>. This is what a
// Mac path under /Volumes/<Name> can be mapped onto. Read on every call, so a
// disk plugged in meanwhile is seen.
class MountTable {
public:
    virtual ~MountTable() = default;

    // The mounted volume directories, in the order the system lists them,
    // each once. Empty when nothing is mounted or the list cannot be read.
    virtual std::vector<std::filesystem::path> volumeDirectories() const = 0;
};

// A fixed list: for tests and for a user who names the volumes by hand.
class FixedMountTable final : public MountTable {
public:
    explicit FixedMountTable(std::vector<std::filesystem::path> directories)
        : m_directories(std::move(directories))
    {}

    std::vector<std::filesystem::path> volumeDirectories() const override { return m_directories; }

private:
    std::vector<std::filesystem::path> m_directories;
};

} // namespace vellico::platform
