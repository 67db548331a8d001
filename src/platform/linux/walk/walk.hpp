#pragma once

#include "platform/linux/walk/descriptor_budget.hpp"
#include "platform/linux/walk/disk_wait_pacer.hpp"
#include "platform/linux/walk/name_list.hpp"
#include "platform/linux/walk/thread_governor.hpp"
#include "platform/linux/walk/walk_nodes.hpp"
#include "platform/linux/walk/work_queue.hpp"
#include "platform/stop_token.hpp"
#include "platform/system_calls.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"
#include "platform/walk_budget.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vellico::platform::walk {

// O_NONBLOCK and O_NOCTTY only matter if something that is not a directory
// slips past O_DIRECTORY; O_NOFOLLOW refuses a link in the last component.
constexpr int kOpenDirectoryFlags =
    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// getdents64 buffer per thread.
constexpr std::size_t kBufferSize = 64 * 1024;

// An entry changes type under us at most this often before it is given up
// (file, then directory, then file…).
constexpr int kTypeChangeAttempts = 3;

// During a long listing, how often the stop token is looked at and the
// counters handed on.
constexpr std::uint64_t kEntriesPerCheck = 4096;

// The files of one large directory are shared with idle threads in batches
// of this many names: enough for the hand-over to cost little next to the
// system calls, few enough for a directory of a few thousand files to be
// spread over the threads.
constexpr std::size_t kFileBatch = 256;

// The most threads any streaming and any post-order walk has taken part
// with, for walkThreadPeaks().
WalkThreadPeaks threadPeaks();

struct Frame {
    Node* node = nullptr;
    UniqueFd fd;     // closed for levels far above the deepest one
    NameList others; // post-order walks: entries not known to be directories
    NameList dirs;
    WalkTally tally;
    bool listed = false;
};

struct RootState {
    int parentFd = -1;
    std::atomic<bool> stopped{false};
};

struct Worker {
    explicit Worker(int i) : index(i) {}

    int index;
    std::vector<Frame> stack;
    std::unique_ptr<char[]> buffer{new char[kBufferSize]};
    std::string name;
    DiskWaitPacer pacer;
};

// A directory descriptor that is either borrowed or owned.
struct DirRef {
    int fd = -1;
    UniqueFd owned;
};

// One call of walkTrees(): the threads, the queue they share and the walk
// each does of the tasks it takes. The members are defined by concern:
// walk_threads.cpp (starting, pacing and joining the threads),
// walk_entries.cpp (listing a directory and acting on its entries) and
// walk_sharing.cpp (handing work to idle threads, finishing directories).
// What runs once per entry is defined here, to stay inlined.
class Walk {
public:
    Walk(WalkVisitor& visitor, const WalkControl& control, WalkOrder order, bool skipHidden)
        : Walk(visitor, control, order, skipHidden, walkThreadLimit(control))
    {}

    Walk(WalkVisitor& visitor, const WalkControl& control, WalkOrder order, bool skipHidden,
         int threadLimit)
        : m_visitor(visitor), m_calls(control.calls ? *control.calls : defaultSystemCalls()),
          m_stop(control.stop), m_progress(control.progress),
          m_postOrder(order == WalkOrder::postOrder), m_skipHidden(skipHidden),
          m_governor(walkThreads(control), threadLimit), m_queue(m_governor.start()),
          // Walks sharing a budget share one descriptor limit between them.
          m_budget(control.budget ? control.budget->threads() : threadLimit)
    {}

    // Walks `roots` on this thread and the helpers it starts; returns when
    // every thread is done and joined.
    void run(std::vector<WalkRoot> roots);

private:
    enum class Opened { opened, gone, notDirectory, refused };

    // walk_threads.cpp
    void work(int index);
    void startThreads(int count);
    void notePeak();

    // Called at every step of the walk. Every few steps, a thread past the
    // number wanted parks; and at the end of each stretch the thread tells
    // the governor how its time went, which may change the number.
    void pace(Worker& w)
    {
        if (m_governor.fixed()) {
            return;
        }
        if (!w.pacer.checkpoint()) {
            return;
        }
        checkpointReached(w);
    }
    void checkpointReached(Worker& w);

    bool stopped(const Node& node) const
    {
        return (m_stop != nullptr && m_stop->stopRequested()) || m_roots[node.root].stopped.load();
    }

    void fail(Node& node, const char* name, WalkFailure what, int error)
    {
        node.failedInside = true;
        if (m_visitor.failed(node, name, what, error)) {
            m_roots[node.root].stopped = true;
        }
    }

    // walk_entries.cpp
    void runTask(Task task, Worker& w);
    void list(Frame& frame, Worker& w);
    void handleEntry(Worker& w, unsigned char type);
    Opened openChild(Frame& frame, const char* name, Task& out);

    // Acts on the visitor's answer about an entry of `node`: true when the
    // entry turned out to be a directory, to be entered.
    bool isDirectory(Node& node, WalkVisitor::Entry answer)
    {
        switch (answer) {
        case WalkVisitor::Entry::done:
            return false;
        case WalkVisitor::Entry::directory:
            return true;
        case WalkVisitor::Entry::kept:
            node.failedInside = true;
            return false;
        case WalkVisitor::Entry::stop:
            node.failedInside = true;
            m_roots[node.root].stopped = true;
            return false;
        }
        return false;
    }

    void flush(Frame& frame)
    {
        if (frame.tally.files == 0 && frame.tally.bytes == 0) {
            return;
        }
        m_visitor.counted(*frame.node, frame.tally);
        if (m_progress != nullptr) {
            m_progress->files.fetch_add(frame.tally.files, std::memory_order_relaxed);
            m_progress->bytes.fetch_add(frame.tally.bytes, std::memory_order_relaxed);
        }
        frame.tally = {};
    }

    // walk_sharing.cpp
    void push(Worker& w, Task child)
    {
        if (m_budget.full(w.stack.size())) {
            w.stack[m_budget.levelToClose(w.stack.size())].fd.reset();
        }
        Frame frame;
        frame.node = child.node;
        frame.fd = std::move(child.fd);
        w.stack.push_back(std::move(frame));
    }

    void shareFiles(Frame& frame, NameList batch);
    bool shareNames(Frame& frame, NameList& names);

    // Called at every step: hands subdirectories on only while a thread
    // waits for work.
    void maybeShare(Worker& w)
    {
        if (m_queue.shareWanted()) {
            shareSubdirectories(w);
        }
    }
    void shareSubdirectories(Worker& w);

    void finishTop(Worker& w);
    UniqueFd reopenParent(Node& node, int fd);
    void complete(Node* node, UniqueFd fd, DirRef parent);
    void abandon(Worker& w);
    static void release(Node* node);

    WalkVisitor& m_visitor;
    SystemCalls& m_calls;
    const StopToken* m_stop;
    WalkProgress* m_progress;
    bool m_postOrder;
    bool m_skipHidden;
    ThreadGovernor m_governor;
    WorkQueue m_queue;
    DescriptorBudget m_budget;
    std::mutex m_threadsMutex;
    std::vector<std::thread> m_helpers; // guarded by m_threadsMutex; thread i + 1 at i
    bool m_threadsClosed = false;       // guarded by m_threadsMutex
    int m_peak = 0;                     // guarded by m_threadsMutex
    std::unique_ptr<RootState[]> m_roots;
};

} // namespace vellico::platform::walk
