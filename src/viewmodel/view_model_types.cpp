#include "viewmodel/view_model_types.hpp"

namespace vellico::viewmodel {

std::string_view activeSheetId(ActiveSheet sheet)
{
    switch (sheet) {
    case ActiveSheet::warning:
        return "warning";
    case ActiveSheet::alias:
        return "alias";
    case ActiveSheet::backup:
        return "backup";
    case ActiveSheet::iCloud:
        return "iCloud";
    case ActiveSheet::missingCache:
        return "missingCache";
    case ActiveSheet::cacheInfo:
        return "cacheInfo";
    case ActiveSheet::fcpLocked:
        return "fcpLocked";
    }
    return {};
}

} // namespace vellico::viewmodel
