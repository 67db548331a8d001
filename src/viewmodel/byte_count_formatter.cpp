#include "viewmodel/byte_count_formatter.hpp"

#include "i18n/translations.hpp"

namespace vellico::viewmodel {

model::ByteUnits ByteCountFormatter::units()
{
    return i18n::byteUnits();
}

QString ByteCountFormatter::string(std::int64_t bytes) const
{
    return QString::fromStdString(i18n::formatBytes(bytes));
}

const ByteCountFormatter& byteCountFormatter()
{
    static const ByteCountFormatter formatter;
    return formatter;
}

} // namespace vellico::viewmodel
