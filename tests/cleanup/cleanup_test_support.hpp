#pragma once

// Helpers shared by the cleanup tests: trees with awkward contents and
// found-folder records as the analysis makes them (the canary digest and the
// mount namespaces come from tests/support).

#include "model/found_folder.hpp"
#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"
#include "support/mount_namespace.hpp"
#include "support/tree_digest.hpp"

#include <fcntl.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace vellico::test {

namespace fs = std::filesystem;

inline void writeText(const fs::path& path, const std::string& contents)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// A few folders and files of render-file shape under `root`.
inline void makeMediaTree(const fs::path& root, int folders = 3, int filesEach = 4)
{
    fs::create_directories(root);
    for (int d = 0; d < folders; ++d) {
        const fs::path dir = root / "High Quality Media" / ("segment-" + std::to_string(d));
        fs::create_directories(dir / "empty");
        for (int f = 0; f < filesEach; ++f) {
            writeText(dir / ("clip-" + std::to_string(f) + ".mov"), std::string(100 + f, 'm'));
        }
        writeText(dir / ".hidden", "h");
    }
}

// The record the analysis makes for the folder at `url`, identity included.
inline model::FoundFolder foundFolder(const fs::path& url, const std::string& name,
                                      const std::string& parentName = {}, std::int64_t size = 0)
{
    model::FoundFolder folder;
    folder.url = url;
    folder.name = name;
    folder.parentName = parentName;
    folder.size = size;
    platform::UniqueFd parent(
        ::open(url.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    folder.identity = platform::identityAt(parent.get(), url.filename().c_str());
    return folder;
}

} // namespace vellico::test
