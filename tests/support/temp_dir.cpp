#include "support/temp_dir.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace vellico::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vellico-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

namespace {

// Runs a command with its arguments, no shell involved, and waits for it.
void run(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

} // namespace

TempDir::~TempDir()
{
    // Tests make read-only folders and trees deeper than one descriptor per
    // level allows; chmod and rm cope with both. Test folders only.
    run({"chmod", "-R", "u+rwx", m_path.string()});
    run({"rm", "-rf", "--", m_path.string()});
}

std::filesystem::path realLibraryPath()
{
    const char* source = std::getenv("VELLICO_SOURCE_DIR");
    std::filesystem::path root = source ? source : std::filesystem::current_path();
    std::filesystem::path library =
        root / ".." / "shared" / "fixtures" / "real-library" / "fcp-to-json.fcpbundle";
    std::error_code ec;
    if (!std::filesystem::is_directory(library, ec)) {
        return {};
    }
    return std::filesystem::weakly_canonical(library, ec);
}

} // namespace vellico::test
