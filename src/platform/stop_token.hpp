#pragma once

#include <atomic>

namespace vellico::platform {

// A request to stop a long walk, seen from the side that does the work. It
// only reads a flag that someone else owns and raises (a signal handler, the
// application quitting); a default token never asks to stop. Checked between
// entries, so the entry in hand is always finished first. Cheap to copy; the
// flag must outlive every copy. Any thread.
class StopToken {
public:
    StopToken() = default;
    explicit StopToken(const std::atomic<bool>& flag) : m_flag(&flag) {}

    bool stopRequested() const
    {
        return m_flag != nullptr && m_flag->load(std::memory_order_relaxed);
    }

private:
    const std::atomic<bool>* m_flag = nullptr;
};

} // namespace vellico::platform
