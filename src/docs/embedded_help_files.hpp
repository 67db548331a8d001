#pragma once

#include <optional>
#include <string_view>

namespace vellico::docs {

// The help files shipped with the program, compiled in at build time from
// resources/help. `fileName` is a plain name such as "Documentation_FR.md";
// none for any other name. The bytes live as long as the program.
std::optional<std::string_view> embeddedHelpFile(std::string_view fileName);

} // namespace vellico::docs
