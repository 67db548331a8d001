#pragma once

// Helpers shared by the cleanup tests: trees with awkward contents, a digest
// that tells whether a tree changed at all, found-folder records as the
// analysis makes them, and children in their own mount namespace.

#include "model/found_folder.hpp"
#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
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

// Runs `body` in a forked child and returns its exit status (-1 when it did
// not exit normally). The child ends with _exit, so no test state leaks.
inline int runInChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        int code = 125;
        try {
            code = body();
        } catch (...) {
            code = 124;
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Child status meaning "this machine cannot make the setup": the test skips.
inline constexpr int kCannotSetUp = 77;

inline bool writeProcFile(const char* path, const std::string& text)
{
    platform::UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
    return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// In a forked child: a mount namespace of its own (and a user namespace when
// not root, as `unshare -rm` does) whose mounts nobody else sees. False when
// the kernel or the sandbox refuses.
inline bool enterPrivateMountNamespace()
{
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            return false;
        }
    } else {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return false;
        }
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return false;
        }
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

} // namespace vellico::test
