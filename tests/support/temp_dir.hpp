#pragma once

#include <filesystem>
#include <string>

namespace vellico::test {

// A fresh directory under the system's temporary folder, removed with all its
// contents (permissions restored first) when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return m_path / rel; }

private:
    std::filesystem::path m_path;
};

// The real library written by the editor, shared with the project but never
// part of it; empty when it is not on this machine.
std::filesystem::path realLibraryPath();

} // namespace vellico::test
