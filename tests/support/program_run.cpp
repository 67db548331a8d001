#include "support/program_run.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <sstream>

extern char** environ;

namespace vellico::test {

namespace {

std::string slurp(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

StartedProgram startProgram(const std::string& program, const TempDir& tmp,
                            std::vector<std::string> args,
                            const std::optional<std::vector<std::string>>& environment)
{
    args.insert(args.begin(), program);
    std::vector<char*> argv = pointers(args);
    std::vector<std::string> env = environment.value_or(std::vector<std::string>{});
    std::vector<char*> envp = pointers(env);

    StartedProgram started;
    started.out = tmp / "stdout";
    started.err = tmp / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, started.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                    environment ? envp.data() : environ) == 0) {
        started.pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

ProgramRun finishProgram(const StartedProgram& started)
{
    ProgramRun run;
    if (started.pid > 0) {
        int status = 0;
        while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    run.out = slurp(started.out);
    run.err = slurp(started.err);
    return run;
}

ProgramRun runProgram(const std::string& program, const TempDir& tmp, std::vector<std::string> args,
                      const std::optional<std::vector<std::string>>& environment)
{
    return finishProgram(startProgram(program, tmp, std::move(args), environment));
}

} // namespace vellico::test
