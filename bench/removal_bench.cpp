// Times the removal of a library's generated-media folders with Vellico's
// safe removal against `rm -rf` of the same folders in a copy, in the same
// run and on the same disk.
//
//   removal_bench [--files N] [--rounds R] [--settle SECONDS] [--dir PATH]
//
// Builds a synthetic library of about N files (default 200,000) shaped like
// real render folders: many folders of small files and a few large sparse
// media files per folder, plus original media that must survive. Each round
// copies it twice (cp -a), then removes the selected folders of one copy with
// removeFoundFolder and of the other with one rm -rf. Before each timing the
// disk is synced and left to settle (default 5 s: freed blocks are discarded
// and journals committed in the background, which otherwise lands on
// whichever side runs next); the side going first alternates between rounds.

#include "cleanup/folder_removal.hpp"
#include "cleanup/removal_error.hpp"
#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vellico::platform::UniqueFd;

namespace {

constexpr int kEvents = 40;
const std::vector<std::string> kMediaFolders = {"Render Files", "Analysis Files",
                                                "Transcoded Media"};
constexpr int kSubfoldersPerMedia = 10;
constexpr int kLargeFilesPerMedia = 2;
constexpr off_t kLargeFileSize = off_t{2} << 30; // sparse: no blocks used

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "removal_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

void makeDir(const fs::path& path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        die("mkdir " + path.string());
    }
}

void writeSmallFile(int dirFd, const std::string& name, const std::string& contents)
{
    UniqueFd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::write(fd.get(), contents.data(), contents.size()) < 0) {
        die("write " + name);
    }
}

void writeSparseFile(int dirFd, const std::string& name, off_t size)
{
    UniqueFd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd || ::ftruncate(fd.get(), size) != 0) {
        die("sparse " + name);
    }
}

// Builds the library; returns the selected folders (the generated media).
std::vector<fs::path> buildLibrary(const fs::path& bundle, long files)
{
    makeDir(bundle);
    const long perSubfolder = std::max(
        1L, files / (kEvents * static_cast<long>(kMediaFolders.size()) * kSubfoldersPerMedia));
    const std::string contents(256, 'x');
    std::vector<fs::path> selected;
    for (int e = 0; e < kEvents; ++e) {
        const fs::path event = bundle / ("Event " + std::to_string(e + 1));
        makeDir(event);
        makeDir(event / "Original Media");
        {
            UniqueFd dir(
                ::open((event / "Original Media").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            writeSmallFile(dir.get(), "clip.mov", contents);
        }
        for (const std::string& media : kMediaFolders) {
            const fs::path top = event / media;
            makeDir(top);
            selected.push_back(top);
            const fs::path quality = top / "High Quality Media";
            makeDir(quality);
            for (int s = 0; s < kSubfoldersPerMedia; ++s) {
                const fs::path sub = quality / ("5F2A9C3E-" + std::to_string(s));
                makeDir(sub);
                UniqueFd dir(::open(sub.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (!dir) {
                    die("open " + sub.string());
                }
                for (long f = 0; f < perSubfolder; ++f) {
                    writeSmallFile(dir.get(), "segment-" + std::to_string(f) + ".mov", contents);
                }
            }
            UniqueFd dir(::open(quality.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            for (int l = 0; l < kLargeFilesPerMedia; ++l) {
                writeSparseFile(dir.get(), "large-" + std::to_string(l) + ".mov", kLargeFileSize);
            }
        }
    }
    return selected;
}

int run(const std::vector<std::string>& argv)
{
    pid_t pid = ::fork();
    if (pid < 0) {
        die("fork");
    }
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Lets the disk finish what the previous step left (writeback, journal
// commits, discards of freed blocks) so it does not weigh on the next timing.
void settle(int settleSeconds)
{
    ::sync();
    ::sleep(static_cast<unsigned>(settleSeconds));
    ::sync();
}

// Removing the folders with removeFoundFolder, identities taken as the
// analysis would.
double timeVellico(const fs::path& bundle, const std::vector<fs::path>& paths, int settleSeconds)
{
    std::vector<vellico::model::FoundFolder> folders;
    for (const fs::path& path : paths) {
        UniqueFd parent(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        vellico::model::FoundFolder folder;
        folder.url = path;
        folder.name = path.filename().string();
        folder.identity = vellico::platform::identityAt(parent.get(), path.filename().c_str());
        folders.push_back(folder);
    }
    settle(settleSeconds);
    const auto start = std::chrono::steady_clock::now();
    for (const vellico::model::FoundFolder& folder : folders) {
        const auto result = vellico::cleanup::removeFoundFolder(bundle, folder);
        if (!result) {
            std::fprintf(stderr, "removal_bench: %s: %s\n", result.error().path.c_str(),
                         vellico::cleanup::describe(result.error()).c_str());
            std::exit(1);
        }
    }
    return seconds(std::chrono::steady_clock::now() - start);
}

// One rm -rf for all folders.
double timeRm(const std::vector<fs::path>& paths, int settleSeconds)
{
    std::vector<std::string> argv{"rm", "-rf", "--"};
    for (const fs::path& path : paths) {
        argv.push_back(path.string());
    }
    settle(settleSeconds);
    const auto start = std::chrono::steady_clock::now();
    const int status = run(argv);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (status != 0) {
        std::fprintf(stderr, "removal_bench: rm -rf exited with %d\n", status);
        std::exit(1);
    }
    return seconds(elapsed);
}

std::vector<fs::path> rebase(const std::vector<fs::path>& paths, const fs::path& from,
                             const fs::path& to)
{
    std::vector<fs::path> out;
    for (const fs::path& p : paths) {
        out.push_back(to / p.lexically_relative(from));
    }
    return out;
}

bool survivorsIntact(const fs::path& bundle)
{
    for (int e = 0; e < kEvents; ++e) {
        const fs::path event = bundle / ("Event " + std::to_string(e + 1));
        if (!fs::exists(event / "Original Media" / "clip.mov")) {
            return false;
        }
        for (const std::string& media : kMediaFolders) {
            if (fs::exists(event / media)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    long files = 200000;
    int rounds = 2;
    int settleSeconds = 5;
    fs::path dir = fs::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--files") {
            files = std::atol(argv[i + 1]);
        } else if (option == "--rounds") {
            rounds = std::atoi(argv[i + 1]);
        } else if (option == "--settle") {
            settleSeconds = std::atoi(argv[i + 1]);
        } else if (option == "--dir") {
            dir = argv[i + 1];
        } else {
            std::fprintf(
                stderr,
                "usage: removal_bench [--files N] [--rounds R] [--settle SECONDS] [--dir PATH]\n");
            return 2;
        }
    }

    std::string pattern = (dir / "vellico-removal-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        die("mkdtemp");
    }
    const fs::path work = pattern;
    const fs::path master = work / "Master.fcpbundle";
    std::printf("building a library of about %ld files in %s\n", files, work.c_str());
    const std::vector<fs::path> selected = buildLibrary(master, files);

    double totalOurs = 0;
    double totalRm = 0;
    for (int round = 0; round < rounds; ++round) {
        const fs::path ours = work / "Ours.fcpbundle";
        const fs::path theirs = work / "Rm.fcpbundle";
        if (run({"cp", "-a", "--sparse=always", master.string(), ours.string()}) != 0 ||
            run({"cp", "-a", "--sparse=always", master.string(), theirs.string()}) != 0) {
            die("cp");
        }
        // The side going first alternates between rounds.
        double tOurs = 0;
        double tRm = 0;
        if (round % 2 == 0) {
            tOurs = timeVellico(ours, rebase(selected, master, ours), settleSeconds);
            tRm = timeRm(rebase(selected, master, theirs), settleSeconds);
        } else {
            tRm = timeRm(rebase(selected, master, theirs), settleSeconds);
            tOurs = timeVellico(ours, rebase(selected, master, ours), settleSeconds);
        }
        if (!survivorsIntact(ours) || !survivorsIntact(theirs)) {
            std::fprintf(stderr, "removal_bench: a library is not in the expected state\n");
            return 1;
        }
        std::printf("round %d: vellico %.3f s, rm -rf %.3f s\n", round + 1, tOurs, tRm);
        totalOurs += tOurs;
        totalRm += tRm;
        run({"rm", "-rf", "--", ours.string(), theirs.string()});
    }
    std::printf("%zu selected folders, %d rounds: vellico %.3f s, rm -rf %.3f s (ratio %.2f)\n",
                selected.size(), rounds, totalOurs / rounds, totalRm / rounds,
                totalRm > 0 ? totalOurs / totalRm : 0.0);
    run({"rm", "-rf", "--", work.string()});
    return 0;
}
