#include "platform/linux/walk/descriptor_budget.hpp"

#include <sys/resource.h>

#include <algorithm>

namespace vellico::platform::walk {

namespace {

constexpr std::size_t kMaxOpenLevels = 16;
constexpr std::size_t kMinOpenLevels = 2;

std::size_t openLevelsPerThread(int threads)
{
    rlimit limit{};
    std::size_t budget = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        budget = static_cast<std::size_t>(limit.rlim_cur);
    }
    return std::clamp(budget / 4 / static_cast<std::size_t>(threads), kMinOpenLevels,
                      kMaxOpenLevels);
}

} // namespace

DescriptorBudget::DescriptorBudget(int threads) : m_levels(openLevelsPerThread(threads)) {}

} // namespace vellico::platform::walk
