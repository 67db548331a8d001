#pragma once

#include "support/temp_dir.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vellico::test {

// What a program printed and how it ended.
struct ProgramRun {
    int status = -1; // exit status; -1 when it could not start or was killed
    std::string out;
    std::string err;
};

// Runs `program` with `args` (no shell), stdout and stderr captured through
// files in `tmp`. `environment` replaces the environment when given; the
// test's own is inherited otherwise.
ProgramRun runProgram(const std::string& program, const TempDir& tmp, std::vector<std::string> args,
                      const std::optional<std::vector<std::string>>& environment = std::nullopt);

} // namespace vellico::test
