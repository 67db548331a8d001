#include "viewmodel/byte_count_formatter.hpp"

#include "viewmodel/texts.hpp"

#include <QCoreApplication>

namespace vellico::viewmodel {

model::ByteUnits ByteCountFormatter::units()
{
    model::ByteUnits units;
    units.zero = texts::translate(QT_TRANSLATE_NOOP("Vellico", "Zéro Ko")).toStdString();
    units.byte = texts::translate(QT_TRANSLATE_NOOP("Vellico", "octet")).toStdString();
    units.bytes = texts::translate(QT_TRANSLATE_NOOP("Vellico", "octets")).toStdString();
    units.kilo = texts::translate(QT_TRANSLATE_NOOP("Vellico", "Ko")).toStdString();
    units.mega = texts::translate(QT_TRANSLATE_NOOP("Vellico", "Mo")).toStdString();
    units.giga = texts::translate(QT_TRANSLATE_NOOP("Vellico", "Go")).toStdString();
    units.tera = texts::translate(QT_TRANSLATE_NOOP("Vellico", "To")).toStdString();
    units.decimalSeparator = ','; // the product is French first
    return units;
}

QString ByteCountFormatter::string(std::int64_t bytes) const
{
    return QString::fromStdString(model::formatByteCount(bytes, units()));
}

const ByteCountFormatter& byteCountFormatter()
{
    static const ByteCountFormatter formatter;
    return formatter;
}

} // namespace vellico::viewmodel
