#pragma once

#include <cstdint>
#include <limits>

namespace vellico::model {

// a + b for byte counts, held at the largest value instead of wrapping: a
// corrupt or hostile size never turns a total negative. Negative terms count
// as 0 (a size that could not be read).
inline std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b > 0 ? b : 0, &sum)) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return sum;
}

// A byte count held in an unsigned counter, as a saturated signed size.
inline std::int64_t saturatedSize(std::uint64_t bytes)
{
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(bytes > kMax ? kMax : bytes);
}

} // namespace vellico::model
