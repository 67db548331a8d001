#include "analysis/status_text.hpp"

#include "i18n/translations.hpp"

namespace vellico::analysis {

std::string StatusText::formatted() const
{
    return i18n::fillPlaceholders(key, args);
}

} // namespace vellico::analysis
