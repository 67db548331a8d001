#pragma once

#include "cleanup/lock_record.hpp"

#include <QString>

#include <optional>

namespace vellico::viewmodel {

// Who has a library open, from its lock record: the editor or another
// Vellico, on which machine when the record says. GUI thread.
QString holderText(const std::optional<cleanup::LockHolder>& holder);

} // namespace vellico::viewmodel
