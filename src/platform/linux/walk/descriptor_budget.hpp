#pragma once

#include <cstddef>

namespace vellico::platform::walk {

// How many directories each walking thread keeps open: the deepest levels of
// its path, at most 16 and at least 2, and at most a quarter of the
// open-file limit (RLIMIT_NOFILE) shared by all threads. A level further up
// is closed and reopened through ".." of its child when the walk comes back
// to it. Besides these, a thread holds one reopened parent for a moment, and
// the queue one directory per idle thread.
class DescriptorBudget {
public:
    explicit DescriptorBudget(int threads);

    // Levels a thread keeps open.
    std::size_t levels() const { return m_levels; }

    // For a thread `depth` levels deep: the first level still open.
    std::size_t firstOpenLevel(std::size_t depth) const
    {
        return depth > m_levels ? depth - m_levels : 0;
    }

    // True when, `depth` levels deep, one more level needs the level
    // levelToClose(depth) closed first.
    bool full(std::size_t depth) const { return depth >= m_levels; }
    std::size_t levelToClose(std::size_t depth) const { return depth - m_levels; }

private:
    std::size_t m_levels;
};

} // namespace vellico::platform::walk
