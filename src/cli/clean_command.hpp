#pragma once

#include "model/editing_preset.hpp"

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vellico::cli {

struct CleanOptions {
    bool json = false;
    bool dryRun = false; // report what would go; delete nothing, take no lock
    bool yes = false;    // do not ask for confirmation
    model::EditingPreset preset = model::EditingPreset::inProgress;
    std::optional<std::filesystem::path> home;
    std::vector<std::string> paths;
    int jobs = 0; // threads of the walks; 0: the number of cores, at most 8
};

// How `clean` asks the user before deleting. Tests script it.
class Confirmation {
public:
    virtual ~Confirmation() = default;
    // None when no one can be asked (no terminal); otherwise the answer.
    virtual std::optional<bool> ask(const std::string& question) = 0;
};

// Asks on the terminal (stdin), the question on stderr; none without one.
class TerminalConfirmation final : public Confirmation {
public:
    std::optional<bool> ask(const std::string& question) override;
};

// `vellico-cli clean`: for each library, analyse, show the selection, refuse
// when the editor has it open, confirm (never deletes unasked), claim the
// library's lock, delete with progress on stderr, release, and report what
// was freed and every failure. Exit status 0 when everything selected was
// removed (or, with --dry-run, when every library was analysed), 1 otherwise.
int runClean(const CleanOptions& options, Confirmation& confirmation, std::ostream& out,
             std::ostream& err);

} // namespace vellico::cli
