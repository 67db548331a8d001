#pragma once

#include "support/temp_dir.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vellico::test {

// What a program printed and how it ended.
struct ProgramRun {
    int status = -1; // exit status; -1 when it could not start or was killed
    int signal = 0;  // the signal that killed it; 0 when it exited
    std::string out;
    std::string err;
};

// A program running in the background, stdin from /dev/null, stdout and
// stderr into files. pid is 0 when it could not start.
struct StartedProgram {
    int pid = 0;
    std::filesystem::path out;
    std::filesystem::path err;
};

StartedProgram
startProgram(const std::string& program, const TempDir& tmp, std::vector<std::string> args,
             const std::optional<std::vector<std::string>>& environment = std::nullopt);

// Waits for the program to end and collects what it printed.
ProgramRun finishProgram(const StartedProgram& started);

// Runs `program` with `args` (no shell), stdout and stderr captured through
// files in `tmp`. `environment` replaces the environment when given; the
// test's own is inherited otherwise.
ProgramRun runProgram(const std::string& program, const TempDir& tmp, std::vector<std::string> args,
                      const std::optional<std::vector<std::string>>& environment = std::nullopt);

} // namespace vellico::test
