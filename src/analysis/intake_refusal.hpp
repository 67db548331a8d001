#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::analysis {

// Why an item was not taken in, as a value: the catalogue key of the text
// and what its %1, %2… stand for. Each front end only translates it, so the
// window and the command line say the same words for the same refusal.
struct Refusal {
    std::string input;                         // the item as given
    std::optional<std::filesystem::path> path; // the absolute path concerned, when there is one
    std::string_view key;                      // a catalogue key (French text)
    std::vector<std::string> args;
};

} // namespace vellico::analysis
