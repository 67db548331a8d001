#pragma once

#include "cli/command_line.hpp"

#include <iosfwd>

namespace vellico::cli {

// `vellico-cli analyze`: every library in turn (folders searched with
// --recursive), its report, then the summary of the batch. Warnings and
// errors go to `err`, each naming the path as given. Exit status 0 when
// every library was analysed completely, 1 when any input failed or any
// library had folders that could not be read. A signal caught by `signals`
// stops the analysis at once: nothing is printed on `out` and the exit
// status is 128 + the signal's number.
class StopSignals;
int runAnalyze(const CommandLine& options, std::ostream& out, std::ostream& err,
               const StopSignals* signals = nullptr);

} // namespace vellico::cli
