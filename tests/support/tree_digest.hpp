#pragma once

// A canary for tests: a digest that tells whether a tree changed at all.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace vellico::test {

namespace fs = std::filesystem;

inline std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Everything that could change in a tree, links not followed: names, types,
// modes, sizes, contents, link targets, modification times; hashed (FNV-1a).
// Two equal digests mean nothing was added, removed or altered.
inline std::uint64_t treeDigest(const fs::path& root)
{
    std::map<std::string, std::string> items;
    auto describe = [](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            return std::string("missing");
        }
        std::ostringstream out;
        out << st.st_mode << '|' << st.st_size << '|' << st.st_ino << '|' << st.st_mtim.tv_sec
            << '.' << st.st_mtim.tv_nsec << '|';
        if (S_ISREG(st.st_mode)) {
            out << readText(path);
        } else if (S_ISLNK(st.st_mode)) {
            out << fs::read_symlink(path).string();
        }
        return out.str();
    };
    items[""] = describe(root);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        items[it->path().lexically_relative(root).string()] = describe(it->path());
    }
    std::uint64_t hash = 1469598103934665603ull;
    for (const auto& [name, text] : items) {
        for (const std::string* part : {&name, &text}) {
            for (unsigned char c : *part) {
                hash = (hash ^ c) * 1099511628211ull;
            }
            hash = (hash ^ 0xFFu) * 1099511628211ull;
        }
    }
    return hash;
}

} // namespace vellico::test
