#pragma once

#include "model/editing_preset.hpp"

#include <tl/expected.hpp>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::cli {

enum class Command {
    none, // only global options were given (--help, --version)
    analyze,
    clean,
    help, // the manual, in a language
};

// How sizes are written: decimal units as in the window (kB, MB, GB),
// binary units (KiB, MiB, GiB), or exact byte counts.
enum class SizeUnits { decimal, binary, bytes };

// The order of libraries, and of events within a library, in the text
// output: largest first, or by name.
enum class SortOrder { size, name };

// --color: on a terminal unless NO_COLOR is set, always, or never.
enum class ColourChoice { automatic, always, never };

// What the user asked for on the command line, every option resolved.
struct CommandLine {
    Command command = Command::none;
    bool showHelp = false;    // -h/--help: the usage of `command` (or the global one), exit 0
    bool showVersion = false; // -V/--version
    bool json = false;
    bool dryRun = false;    // clean only
    bool yes = false;       // clean only
    bool recursive = false; // folders given are searched for libraries
    bool original = false;  // a backup given is replaced by its original library
    model::EditingPreset preset = model::EditingPreset::inProgress;
    std::optional<std::filesystem::path> home;
    // Kinds of folders (rule names, or "Final Cut Backups" for backups) that
    // refine the preset's selection: with `only`, nothing else stays
    // selected; `except` is taken out of the selection.
    std::optional<std::set<std::string>> only;
    std::set<std::string> except;
    int jobs = 0; // threads of the walks; 0: as many as help (see WalkControl)
    SizeUnits units = SizeUnits::decimal; // -b/--bytes, --binary
    SortOrder sort = SortOrder::size;     // --sort
    ColourChoice colour = ColourChoice::automatic;
    bool quiet = false;   // -q: only errors and the summary
    bool verbose = false; // -v: every folder's path
    std::vector<std::string> paths;
    std::string helpLanguage; // `help`'s argument, empty for the user's language
};

// A command line that cannot be carried out: the short reason.
struct UsageError {
    std::string message;
};

// Parses argv with getopt_long (long options in --opt=value and --opt value
// forms, "--" ending options, options and paths in any order). Global
// options come before the command; every command also takes -h/--help.
tl::expected<CommandLine, UsageError> parseCommandLine(int argc, char** argv);

// The preset named on the command line: "in-progress" as the option is
// written, "inProgress" as JSON writes it, or "done".
std::optional<model::EditingPreset> presetNamed(std::string_view name);

// The folder kinds `--only` and `--except` accept, as typed on the command
// line: the rule names and "backups".
std::vector<std::string> folderKindNames();

} // namespace vellico::cli
