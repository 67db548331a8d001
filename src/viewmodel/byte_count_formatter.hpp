#pragma once

#include "model/byte_count_format.hpp"

#include <QString>

#include <cstdint>

namespace vellico::viewmodel {

// The one formatter for every size the application shows: decimal units,
// bytes to terabytes, file style, unit names from the translation catalogue.
// The rules live in the core (model::formatByteCount), shared with the CLI.
class ByteCountFormatter {
public:
    QString string(std::int64_t bytes) const;

    // The translated unit names; read at each call, so a catalogue installed
    // after the first use is still honoured.
    static model::ByteUnits units();
};

// The shared instance, created on first use.
const ByteCountFormatter& byteCountFormatter();

} // namespace vellico::viewmodel
