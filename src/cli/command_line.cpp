#include "cli/command_line.hpp"

#include "cli/texts.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"

#include <getopt.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace vellico::cli {

namespace {

// Long options without a short form use values above the char range.
enum LongOnly : int {
    optJson = 256,
    optPreset,
    optHome,
    optDryRun,
    optOnly,
    optExcept,
    optOriginal,
    optJobs,
    optVersion,
    optBinary,
    optSort,
    optColour,
};

constexpr option globalOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

constexpr option commandOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"json", no_argument, nullptr, optJson},
    {"preset", required_argument, nullptr, optPreset},
    {"home", required_argument, nullptr, optHome},
    {"recursive", no_argument, nullptr, 'r'},
    {"only", required_argument, nullptr, optOnly},
    {"except", required_argument, nullptr, optExcept},
    {"original", no_argument, nullptr, optOriginal},
    {"jobs", required_argument, nullptr, optJobs},
    {"dry-run", no_argument, nullptr, optDryRun},
    {"yes", no_argument, nullptr, 'y'},
    {"bytes", no_argument, nullptr, 'b'},
    {"binary", no_argument, nullptr, optBinary},
    {"sort", required_argument, nullptr, optSort},
    {"color", required_argument, nullptr, optColour},
    {"colour", required_argument, nullptr, optColour},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};

// "backups" on the command line names the backup folders.
constexpr std::string_view backupsKind = "backups";

std::optional<std::string> folderKind(std::string_view typed)
{
    if (typed == backupsKind) {
        return std::string(model::backupsFolderName);
    }
    for (const model::TargetFolderRule& rule : model::targetFolderRules()) {
        if (model::namesEqual(rule.name, typed)) {
            return rule.name;
        }
    }
    return std::nullopt;
}

tl::expected<std::set<std::string>, UsageError> parseKinds(std::string_view list)
{
    std::set<std::string> kinds;
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const auto kind = folderKind(item);
        if (!kind) {
            return tl::unexpected(UsageError{say("type de dossier inconnu : %1", {item})});
        }
        kinds.insert(*kind);
        if (comma == std::string_view::npos) {
            return kinds;
        }
        list.remove_prefix(comma + 1);
    }
}

// The long option `typed` ("--name" or "--name=value") names, abbreviated
// or not, when its value is `val` in `options`.
bool namesLongOption(std::string_view typed, int val, const option* options)
{
    if (typed.substr(0, 2) != "--") {
        return false;
    }
    typed.remove_prefix(2);
    typed = typed.substr(0, typed.find('='));
    for (const option* o = options; o->name != nullptr; ++o) {
        if (o->val == val && !typed.empty() && std::string_view(o->name).starts_with(typed)) {
            return true;
        }
    }
    return false;
}

// The option getopt_long stopped at, as the user typed it: "--help" for
// "--help=foo" (getopt_long reports it by its short form), "-x" for a short one.
std::string offendingOption(char** argv, int index, int shortOption,
                            const option* options = commandOptions)
{
    std::string typed = index > 0 ? argv[index - 1] : "";
    const bool longForm =
        shortOption <= 0 || shortOption >= 256 || namesLongOption(typed, shortOption, options);
    if (!longForm) {
        return std::string("-") + static_cast<char>(shortOption);
    }
    if (const std::size_t equals = typed.find('='); equals != std::string::npos) {
        typed.resize(equals);
    }
    return typed;
}

// The message for an option getopt_long refused: a value given to an
// option that takes none, or an option it does not know.
UsageError refusedOption(char** argv, int index, int shortOption, const option* options)
{
    const std::string typed = index > 0 ? argv[index - 1] : "";
    const std::string name = offendingOption(argv, index, shortOption, options);
    if (name.starts_with("--") && typed.find('=') != std::string::npos && shortOption != 0) {
        return UsageError{say("l'option %1 ne prend pas de valeur", {name})};
    }
    return UsageError{say("option inconnue : %1", {name})};
}

// Options that only `clean` takes.
bool cleanOnly(int option)
{
    return option == optDryRun || option == 'y';
}

} // namespace

std::optional<model::EditingPreset> presetNamed(std::string_view name)
{
    if (name == "in-progress" || name == "inProgress") {
        return model::EditingPreset::inProgress;
    }
    if (name == "done") {
        return model::EditingPreset::done;
    }
    return std::nullopt;
}

std::vector<std::string> folderKindNames()
{
    std::vector<std::string> names;
    for (const model::TargetFolderRule& rule : model::targetFolderRules()) {
        names.push_back(rule.name);
    }
    names.emplace_back(backupsKind);
    return names;
}

// Applies one of a command's options, its value in `value`, to `line`. False
// when it is none of ours; an error for a value it cannot take.
tl::expected<bool, UsageError> applyCommandOption(int option, const char* argument,
                                                  CommandLine& line)
{
    switch (option) {
    case 'h':
        line.showHelp = true;
        break;
    case optJson:
        line.json = true;
        break;
    case 'r':
        line.recursive = true;
        break;
    case optOriginal:
        line.original = true;
        break;
    case optDryRun:
        line.dryRun = true;
        break;
    case 'y':
        line.yes = true;
        break;
    case optPreset: {
        const auto preset = presetNamed(argument);
        if (!preset) {
            return tl::unexpected(UsageError{say("préréglage inconnu : %1", {argument})});
        }
        line.preset = *preset;
        break;
    }
    case 'b':
        line.units = SizeUnits::bytes;
        break;
    case optBinary:
        line.units = SizeUnits::binary;
        break;
    case optSort: {
        const std::string_view value = argument;
        if (value != "size" && value != "name") {
            return tl::unexpected(UsageError{say("--sort demande size ou name : %1", {value})});
        }
        line.sort = value == "size" ? SortOrder::size : SortOrder::name;
        break;
    }
    case optColour: {
        const std::string_view value = argument;
        if (value == "auto") {
            line.colour = ColourChoice::automatic;
        } else if (value == "always") {
            line.colour = ColourChoice::always;
        } else if (value == "never") {
            line.colour = ColourChoice::never;
        } else {
            return tl::unexpected(
                UsageError{say("--color demande auto, always ou never : %1", {value})});
        }
        break;
    }
    case 'q':
        line.quiet = true;
        line.verbose = false;
        break;
    case 'v':
        line.verbose = true;
        line.quiet = false;
        break;
    case optHome:
        if (*argument == '\0') {
            return tl::unexpected(UsageError{say("--home demande un dossier")});
        }
        line.home = std::filesystem::path(argument);
        break;
    case optOnly:
    case optExcept: {
        auto kinds = parseKinds(argument);
        if (!kinds) {
            return tl::unexpected(kinds.error());
        }
        if (option == optOnly) {
            // Repeated, the lists add up, as --except's do.
            if (!line.only) {
                line.only.emplace();
            }
            line.only->merge(*kinds);
        } else {
            line.except.merge(*kinds);
        }
        break;
    }
    case optJobs: {
        const std::string_view value = argument;
        int jobs = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
        if (error != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 64) {
            return tl::unexpected(
                UsageError{say("--jobs demande un nombre de 1 à 64 : %1", {value})});
        }
        line.jobs = jobs;
        break;
    }
    default:
        return false;
    }
    return true;
}

tl::expected<CommandLine, UsageError> parseCommandLine(int argc, char** argv)
{
    CommandLine line;
    ::opterr = 0; // our own messages, in the user's language
    // "+": stop at the command; options after it belong to the command.
    ::optind = 0;
    int option = 0;
    while ((option = ::getopt_long(argc, argv, "+:hV", globalOptions, nullptr)) != -1) {
        switch (option) {
        case 'h':
            line.showHelp = true;
            break;
        case 'V':
            line.showVersion = true;
            break;
        default:
            return tl::unexpected(refusedOption(argv, ::optind, ::optopt, globalOptions));
        }
    }
    if (line.showHelp || line.showVersion) {
        return line;
    }
    if (::optind >= argc) {
        return tl::unexpected(UsageError{say("commande manquante")});
    }
    const std::string_view command = argv[::optind];
    if (command == "analyze") {
        line.command = Command::analyze;
    } else if (command == "clean") {
        line.command = Command::clean;
    } else if (command == "help") {
        line.command = Command::help;
    } else {
        return tl::unexpected(UsageError{say("commande inconnue : %1", {command})});
    }

    // The command's own options; GNU getopt_long moves the paths behind them
    // so that options may follow paths, and "--" ends the options.
    const int first = ::optind;
    const int count = argc - first;
    char** args = argv + first;
    ::optind = 0;
    while ((option = ::getopt_long(count, args, ":hrybqv", commandOptions, nullptr)) != -1) {
        if (line.command == Command::help && option != 'h' && option != '?' && option != ':') {
            return tl::unexpected(UsageError{say("help ne prend pas d'option")});
        }
        if (line.command == Command::analyze && cleanOnly(option)) {
            return tl::unexpected(
                UsageError{say("option inconnue : %1", {offendingOption(args, ::optind, 0)})});
        }
        if (option == ':') {
            return tl::unexpected(UsageError{say("l'option %1 demande une valeur",
                                                 {offendingOption(args, ::optind, ::optopt)})});
        }
        const tl::expected<bool, UsageError> applied = applyCommandOption(option, ::optarg, line);
        if (!applied) {
            return tl::unexpected(applied.error());
        }
        if (!*applied) {
            return tl::unexpected(refusedOption(args, ::optind, ::optopt, commandOptions));
        }
    }
    for (int i = ::optind; i < count; ++i) {
        line.paths.emplace_back(args[i]);
    }
    if (line.showHelp) {
        return line;
    }
    if (line.command == Command::help) {
        if (line.paths.size() > 1) {
            return tl::unexpected(UsageError{say("help prend au plus une langue")});
        }
        if (!line.paths.empty()) {
            line.helpLanguage = line.paths.front();
            line.paths.clear();
        }
        return line;
    }
    if (line.paths.empty()) {
        return tl::unexpected(UsageError{say("aucune bibliothèque indiquée")});
    }
    return line;
}

} // namespace vellico::cli
