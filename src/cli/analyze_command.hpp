#pragma once

#include "cli/command_line.hpp"

#include <iosfwd>

namespace vellico::cli {

// `vellico-cli analyze`: every library in turn (folders searched with
// --recursive), its report, then the summary of the batch. Warnings and
// errors go to `err`, each naming the path as given. Exit status 0 when
// every library was analysed completely, 1 when any input failed or any
// library had folders that could not be read.
int runAnalyze(const CommandLine& options, std::ostream& out, std::ostream& err);

} // namespace vellico::cli
