#include "platform/tree_walker.hpp"

#include "platform/linux/walk/thread_governor.hpp"
#include "platform/linux/walk/walk.hpp"
#include "platform/walk_budget.hpp"

#include <algorithm>
#include <thread>

namespace vellico::platform {

int walkThreads(const WalkControl& control)
{
    if (control.jobs > 0) {
        return std::min(control.jobs, walk::kMaxWalkThreads);
    }
    if (control.startThreads > 0) {
        return std::min(control.startThreads, walk::kMaxWalkThreads);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1U, 8U));
}

int walkThreadLimit(const WalkControl& control)
{
    const int start = walkThreads(control);
    return control.jobs > 0 ? start : std::max(start, walk::machineThreadCeiling());
}

WalkThreadPeaks walkThreadPeaks()
{
    return walk::threadPeaks();
}

namespace {

// The budget whose threads the calling thread holds, if any: a walk inside
// a walk on this thread runs on it instead of waiting for the budget.
thread_local const WalkBudget* t_heldBudget = nullptr;

} // namespace

void walkTrees(std::vector<WalkRoot> roots, WalkVisitor& visitor, const WalkControl& control,
               WalkOrder order, bool skipHidden)
{
    WalkBudget* budget = control.budget;
    if (budget == nullptr) {
        walk::Walk walk(visitor, control, order, skipHidden);
        walk.run(std::move(roots));
        return;
    }
    WalkControl shared = control;
    if (t_heldBudget == budget) {
        shared.jobs = 1;
        walk::Walk walk(visitor, shared, order, skipHidden);
        walk.run(std::move(roots));
        return;
    }
    const int threads = budget->acquire(walkThreadLimit(control), control.stop);
    if (threads == 0) {
        return; // stopped while waiting: nothing walked
    }
    // Given back however the walk ends.
    struct Held {
        WalkBudget* budget;
        int threads;
        ~Held()
        {
            t_heldBudget = nullptr;
            budget->release(threads);
        }
    } held{budget, threads};
    t_heldBudget = budget;
    // The threads held are the walk's ceiling: a set number stays exact,
    // the default begins as usual and grows within them.
    if (control.jobs > 0) {
        shared.jobs = threads;
    } else {
        shared.startThreads = std::min(walkThreads(control), threads);
    }
    walk::Walk walk(visitor, shared, order, skipHidden, threads);
    walk.run(std::move(roots));
}

} // namespace vellico::platform
