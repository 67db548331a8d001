#pragma once

#include "cleanup/lock_record.hpp"
#include "platform/system_calls.hpp"

#include <filesystem>
#include <optional>

namespace vellico::viewmodel {

// Who has a library open, as its lock record says (none: it does not say).
struct EditorHold {
    std::optional<cleanup::LockHolder> holder;
};

// None when nobody has the library open. Worker.
std::optional<EditorHold> openBy(const std::filesystem::path& library,
                                 platform::SystemCalls& calls);

} // namespace vellico::viewmodel
