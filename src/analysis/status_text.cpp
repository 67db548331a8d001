#include "analysis/status_text.hpp"

namespace vellico::analysis {

std::string StatusText::formatted() const
{
    // Placeholders are filled in one pass, so an argument that itself holds
    // "%2" is never expanded again.
    std::string out;
    out.reserve(key.size());
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 1 < key.size() && key[i + 1] >= '1' && key[i + 1] <= '9') {
            const std::size_t index = static_cast<std::size_t>(key[i + 1] - '1');
            if (index < args.size()) {
                out += args[index];
                ++i;
                continue;
            }
        }
        out += key[i];
    }
    return out;
}

} // namespace vellico::analysis
