#include "platform/linux/walk/walk.hpp"

#include "platform/linux/walk/remote_file_system.hpp"

#include <algorithm>
#include <system_error>

namespace vellico::platform::walk {

namespace {

// Threads a walk begins with on a network share, where each request waits
// on a round trip: a share answers many requests at once, and the walk
// would otherwise spend its first rounds climbing to them. Past what the
// share can take, the requests only queue, which costs no more than the
// threads' own memory.
constexpr int kShareStart = 32;

// The peaks threadPeaks() reports.
std::atomic<int> g_streamingPeak{0};
std::atomic<int> g_postOrderPeak{0};

void raisePeak(std::atomic<int>& peak, int threads)
{
    int seen = peak.load(std::memory_order_relaxed);
    while (threads > seen && !peak.compare_exchange_weak(seen, threads)) {
    }
}

} // namespace

WalkThreadPeaks threadPeaks()
{
    return {g_streamingPeak.load(), g_postOrderPeak.load()};
}

void Walk::run(std::vector<WalkRoot> roots)
{
    m_roots = std::make_unique<RootState[]>(roots.size());
    bool onShare = false;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        WalkRoot& root = roots[i];
        m_roots[i].parentFd = root.parentFd;
        if (!root.fd) {
            continue;
        }
        auto* node = new Node;
        node->name = std::move(root.name);
        node->identity = root.identity;
        node->root = i;
        node->tag = root.tag;
        onShare = onShare || onRemoteFileSystem(root.fd.get());
        m_queue.push(Task{node, std::move(root.fd)});
    }
    {
        std::lock_guard lock(m_threadsMutex);
        if (onShare) {
            m_governor.beginAt(kShareStart);
        }
        startThreads(m_governor.target());
        m_queue.setTarget(m_governor.target()); // fewer, when some could not start
        notePeak();
    }
    work(0);
    std::vector<std::thread> helpers;
    {
        // The walk is over: no thread is busy, so none can start more.
        std::lock_guard lock(m_threadsMutex);
        m_threadsClosed = true;
        helpers.swap(m_helpers);
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
    raisePeak(m_postOrder ? g_postOrderPeak : g_streamingPeak, m_peak);
}

void Walk::work(int index)
{
    if (!m_queue.waitForTurn(index, nullptr)) {
        return;
    }
    Worker worker(index);
    do {
        std::optional<Task> task = m_queue.take(worker.pacer);
        if (!task) {
            return;
        }
        runTask(std::move(*task), worker);
        m_queue.finishTask();
        // A thread past the number wanted takes no more tasks.
    } while (m_queue.waitForTurn(index, &worker.pacer));
}

// Threads [1, count) exist; each waits for its turn. A thread that cannot be
// started caps the walk at the threads there are. Called with m_threadsMutex
// held.
void Walk::startThreads(int count)
{
    const int have = static_cast<int>(m_helpers.size()) + 1;
    for (int i = have; i < count && !m_threadsClosed; ++i) {
        try {
            m_helpers.emplace_back([this, i] { work(i); });
        } catch (const std::system_error&) {
            m_governor.capAt(i);
            return;
        }
    }
}

// The threads taking part now may be the most so far. Called with
// m_threadsMutex held.
void Walk::notePeak()
{
    m_peak = std::max(m_peak, m_queue.target());
    if (m_progress != nullptr) {
        raisePeak(m_progress->threads, m_peak);
    }
}

// The slow part of pace(), every few steps.
void Walk::checkpointReached(Worker& w)
{
    if (w.index >= m_queue.target()) {
        m_queue.park(w.index, w.pacer);
    }
    const std::optional<Stretch> stretch = w.pacer.stretchEnded();
    if (stretch && m_governor.stretchEnded(*stretch, ThreadGovernor::Clock::now())) {
        std::lock_guard lock(m_threadsMutex);
        startThreads(m_governor.target());
        m_queue.setTarget(m_governor.target());
        notePeak();
    }
}

} // namespace vellico::platform::walk
