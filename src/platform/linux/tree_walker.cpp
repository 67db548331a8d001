#include "platform/tree_walker.hpp"

#include "platform/linux/walk/descriptor_budget.hpp"
#include "platform/linux/walk/disk_wait_pacer.hpp"
#include "platform/linux/walk/name_list.hpp"
#include "platform/linux/walk/thread_governor.hpp"
#include "platform/linux/walk/walk_nodes.hpp"
#include "platform/linux/walk/work_queue.hpp"
#include "platform/walk_budget.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace vellico::platform {

namespace {

// The peaks walkThreadPeaks() reports.
std::atomic<int> g_streamingPeak{0};
std::atomic<int> g_postOrderPeak{0};

void raisePeak(std::atomic<int>& peak, int threads)
{
    int seen = peak.load(std::memory_order_relaxed);
    while (threads > seen && !peak.compare_exchange_weak(seen, threads)) {
    }
}

} // namespace

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
    return {g_streamingPeak.load(), g_postOrderPeak.load()};
}

namespace {

using walk::DescriptorBudget;
using walk::DiskWaitPacer;
using walk::NameList;
using walk::Node;
using walk::parentOf;
using walk::Task;
using walk::ThreadGovernor;
using walk::WorkQueue;

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

    void run(std::vector<WalkRoot> roots)
    {
        m_roots = std::make_unique<RootState[]>(roots.size());
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
            m_queue.push(Task{node, std::move(root.fd)});
        }
        {
            std::lock_guard lock(m_threadsMutex);
            startThreads(m_governor.start());
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

private:
    enum class Opened { opened, gone, notDirectory, refused };

    void work(int index)
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

    // Threads [1, count) exist; each waits for its turn. A thread that cannot
    // be started caps the walk at the threads there are. Called with
    // m_threadsMutex held.
    void startThreads(int count)
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
    void notePeak()
    {
        m_peak = std::max(m_peak, m_queue.target());
        if (m_progress != nullptr) {
            raisePeak(m_progress->threads, m_peak);
        }
    }

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
        if (w.index >= m_queue.target()) {
            m_queue.park(w.index, w.pacer);
        }
        const std::optional<walk::Stretch> stretch = w.pacer.stretchEnded();
        if (stretch && m_governor.stretchEnded(*stretch, ThreadGovernor::Clock::now())) {
            std::lock_guard lock(m_threadsMutex);
            startThreads(m_governor.target());
            m_queue.setTarget(m_governor.target());
            notePeak();
        }
    }

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

    void runTask(Task task, Worker& w)
    {
        w.stack.clear();
        Frame first;
        first.node = task.node;
        first.fd = std::move(task.fd);
        if (task.batch) {
            first.others = std::move(task.files);
            first.listed = true;
        }
        w.stack.push_back(std::move(first));
        while (!w.stack.empty()) {
            pace(w);
            Frame& top = w.stack.back();
            if (stopped(*top.node)) {
                abandon(w);
                return;
            }
            if (!top.listed) {
                list(top, w);
                continue;
            }
            maybeShare(w);
            unsigned char type = DT_UNKNOWN;
            if (!top.others.empty()) {
                if (top.others.size() >= 2 * kFileBatch && m_queue.shareWanted()) {
                    NameList batch;
                    for (std::size_t i = 0; i < kFileBatch; ++i) {
                        top.others.pop(w.name, type);
                        batch.push(w.name.c_str(), type);
                    }
                    shareFiles(top, std::move(batch));
                    continue;
                }
                top.others.pop(w.name, type);
                handleEntry(w, type);
                continue;
            }
            if (!top.dirs.empty()) {
                top.dirs.pop(w.name, type);
                handleEntry(w, DT_DIR);
                continue;
            }
            finishTop(w);
        }
    }

    // Reads the whole directory. Streaming walks hand files on at once and
    // keep the subdirectories; post-order walks keep every name.
    void list(Frame& frame, Worker& w)
    {
        Node& node = *frame.node;
        const int fd = frame.fd.get();
        DirectoryReader reader(m_calls, fd, w.buffer.get(), kBufferSize);
        NameList batch; // streaming walks: files gathered for an idle thread
        const char* name = nullptr;
        unsigned char type = DT_UNKNOWN;
        std::uint64_t seen = 0;
        while (reader.next(name, type)) {
            if (++seen % kEntriesPerCheck == 0) {
                flush(frame);
                if (stopped(node)) {
                    break;
                }
            }
            pace(w);
            maybeShare(w); // the directories above, while this one is read
            if (m_skipHidden && name[0] == '.') {
                continue;
            }
            if (type == DT_DIR) {
                frame.dirs.push(name, DT_DIR);
            } else if (m_postOrder) {
                frame.others.push(name, type);
            } else if (!batch.empty() || m_queue.shareWanted()) {
                // Another thread waits: these files go to it.
                batch.push(name, type);
                if (batch.size() == kFileBatch) {
                    shareFiles(frame, std::move(batch));
                    batch = NameList();
                }
            } else if (isDirectory(node, m_visitor.entry(fd, node, name, type, frame.tally))) {
                frame.dirs.push(name, DT_DIR);
            }
        }
        if (!batch.empty()) {
            // Too few to hand over: handled here, after the listing.
            frame.others = std::move(batch);
        }
        if (reader.error() != 0) {
            fail(node, "", WalkFailure::list, reader.error());
            if (m_postOrder) {
                // Never act on half a directory.
                frame.others.clear();
                frame.dirs.clear();
            }
        }
        frame.listed = true;
        if (!m_postOrder) {
            flush(frame);
        }
    }

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

    // Handles the entry named w.name of the top directory.
    void handleEntry(Worker& w, unsigned char type)
    {
        Frame& top = w.stack.back();
        Node& node = *top.node;
        const char* name = w.name.c_str();
        for (int attempt = 0; attempt < kTypeChangeAttempts; ++attempt) {
            if (type != DT_DIR) {
                if (!isDirectory(node,
                                 m_visitor.entry(top.fd.get(), node, name, type, top.tally))) {
                    return;
                }
                type = DT_DIR;
                continue;
            }
            Task child;
            switch (openChild(top, name, child)) {
            case Opened::opened:
                push(w, std::move(child));
                return;
            case Opened::notDirectory:
                type = DT_REG; // a file or a link stands under that name now
                continue;
            case Opened::gone:
            case Opened::refused:
                return;
            }
        }
        fail(node, name, WalkFailure::typeUnstable, EAGAIN);
    }

    // Opens the subdirectory `name` of the frame's directory as a new node.
    Opened openChild(Frame& frame, const char* name, Task& out)
    {
        Node& parent = *frame.node;
        const int raw = m_calls.openat(frame.fd.get(), name, kOpenDirectoryFlags);
        if (raw < 0) {
            const int error = errno;
            if (error == ENOENT) {
                return Opened::gone;
            }
            if (error == ENOTDIR || error == ELOOP) {
                return Opened::notDirectory;
            }
            fail(parent, name, WalkFailure::open, error);
            return Opened::refused;
        }
        UniqueFd fd(raw);
        const std::optional<FileIdentity> id = identityOf(m_calls, fd.get());
        if (!id) {
            fail(parent, name, WalkFailure::open, errno);
            return Opened::refused;
        }
        if (onOtherMount(*id, parent.identity)) {
            fail(parent, name, WalkFailure::otherMount, EXDEV);
            return Opened::refused;
        }
        auto node = std::make_unique<Node>();
        node->parent = &parent;
        node->name = name;
        node->identity = *id;
        node->root = parent.root;
        node->depth = parent.depth + 1;
        node->tag = parent.tag;
        if (!m_visitor.enter(*node)) {
            if (m_postOrder) {
                parent.failedInside = true; // left in place: the parent stays too
            }
            return Opened::refused;
        }
        ++parent.refs;
        out.node = node.release();
        out.fd = std::move(fd);
        return Opened::opened;
    }

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

    // Hands a batch of the frame's files to another thread, with a
    // descriptor of its own on the directory. The directory stays alive
    // (and, in post-order walks, in place) until the batch is done. Without a
    // descriptor to spare, the files stay with this frame.
    void shareFiles(Frame& frame, NameList batch)
    {
        if (!shareNames(frame, batch)) {
            while (!batch.empty()) {
                std::string name;
                unsigned char type = DT_UNKNOWN;
                batch.pop(name, type);
                frame.others.push(name.c_str(), type);
            }
        }
    }

    // Queues `names` of the frame's directory as a task of their own, with a
    // descriptor of its own on the directory; false (and `names` left as
    // they are) when there is no descriptor to spare.
    bool shareNames(Frame& frame, NameList& names)
    {
        UniqueFd fd(::fcntl(frame.fd.get(), F_DUPFD_CLOEXEC, 0));
        if (!fd) {
            return false;
        }
        ++frame.node->refs;
        Task task;
        task.node = frame.node;
        task.fd = std::move(fd);
        task.files = std::move(names);
        task.batch = true;
        m_queue.push(std::move(task));
        return true;
    }

    // Hands subdirectories to the idle threads, one each, taken as near the
    // top of the tree as this thread has a directory open: the larger the
    // subtree, the longer the other thread stays busy. Each goes with a
    // descriptor on the directory holding it, and the other thread opens it
    // (with the same checks as any subdirectory): where an open is a round
    // trip (a network share), this thread does not wait for it, and hands
    // out a whole directory's subdirectories at once. Each hand-over holds a
    // descriptor, so only as many go to the queue as threads wait.
    void maybeShare(Worker& w)
    {
        while (m_queue.shareWanted()) {
            const std::size_t first = m_budget.firstOpenLevel(w.stack.size());
            // Keep one subdirectory for this thread: handing over the last
            // one would only make the threads take turns down a single chain.
            std::size_t waiting = 0;
            for (std::size_t i = first; i < w.stack.size() && waiting < 2; ++i) {
                if (w.stack[i].fd && w.stack[i].listed) {
                    waiting += w.stack[i].dirs.size();
                }
            }
            if (waiting < 2) {
                return;
            }
            for (std::size_t i = first; i < w.stack.size(); ++i) {
                Frame& frame = w.stack[i];
                if (!frame.fd || !frame.listed || frame.dirs.empty()) {
                    continue;
                }
                unsigned char type = DT_DIR;
                frame.dirs.pop(w.name, type);
                NameList one;
                one.push(w.name.c_str(), DT_DIR);
                if (!shareNames(frame, one)) {
                    frame.dirs.push(w.name.c_str(), DT_DIR);
                    return;
                }
                break;
            }
        }
    }

    // The top directory is done: its parent's descriptor is made sure of
    // (reopened through ".." if it was closed), then the node is released.
    void finishTop(Worker& w)
    {
        Frame& top = w.stack.back();
        flush(top);
        DirRef parent;
        if (w.stack.size() >= 2) {
            Frame& below = w.stack[w.stack.size() - 2];
            if (!below.fd) {
                below.fd = reopenParent(*top.node, top.fd.get());
                if (!below.fd) {
                    abandon(w);
                    return;
                }
            }
            parent.fd = below.fd.get();
        }
        Node* node = top.node;
        UniqueFd fd = std::move(top.fd);
        w.stack.pop_back();
        if (--node->refs == 0) {
            complete(node, std::move(fd), std::move(parent));
        }
    }

    // The parent of `node`, reached through ".." of the node's own
    // descriptor, provided it is the very directory the walk came from.
    // Invalid (and the failure reported) otherwise.
    UniqueFd reopenParent(Node& node, int fd)
    {
        Node& parent = *parentOf(node);
        const int raw = fd >= 0 ? m_calls.openat(fd, "..", kOpenDirectoryFlags) : -1;
        UniqueFd reopened(raw);
        const std::optional<FileIdentity> id =
            reopened ? identityOf(m_calls, reopened.get()) : std::nullopt;
        if (!id || !id->sameAs(parent.identity)) {
            // Moved elsewhere while we were inside: nothing above is trusted.
            fail(parent, "", WalkFailure::identityChanged, ESTALE);
            m_roots[node.root].stopped = true;
            return {};
        }
        return reopened;
    }

    // Everything below `node` is done. Post-order walks let the visitor act
    // on it (remove it), then the parent, if it is done as well, completes
    // in turn: a directory whose subtrees went to other threads is finished
    // by the thread that ends last.
    void complete(Node* node, UniqueFd fd, DirRef parent)
    {
        while (node != nullptr) {
            Node* up = parentOf(*node);
            bool ok = true;
            if (m_postOrder) {
                ok = !node->failedInside && !stopped(*node);
                if (ok && up == nullptr) {
                    parent.fd = m_roots[node->root].parentFd;
                } else if (ok && parent.fd < 0) {
                    parent.owned = reopenParent(*node, fd.get());
                    parent.fd = parent.owned.get();
                    ok = parent.fd >= 0;
                }
                if (ok) {
                    switch (m_visitor.leave(*node, parent.fd, fd)) {
                    case WalkVisitor::Leave::done:
                        break;
                    case WalkVisitor::Leave::failed:
                        ok = false;
                        break;
                    case WalkVisitor::Leave::stop:
                        ok = false;
                        m_roots[node->root].stopped = true;
                        break;
                    }
                }
            }
            if (!ok && up != nullptr) {
                up->failedInside = true;
            }
            delete node;
            if (up == nullptr || --up->refs != 0) {
                return;
            }
            // The parent completes here; its descriptor is the one just used.
            node = up;
            fd = parent.owned ? std::move(parent.owned) : UniqueFd();
            parent = DirRef{};
        }
    }

    // Drops every frame of this thread without acting on it: the walk stops.
    void abandon(Worker& w)
    {
        while (!w.stack.empty()) {
            Frame& top = w.stack.back();
            flush(top);
            Node* node = top.node;
            w.stack.pop_back();
            release(node);
        }
    }

    static void release(Node* node)
    {
        while (node != nullptr && --node->refs == 0) {
            Node* up = parentOf(*node);
            delete node;
            node = up;
        }
    }

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

} // namespace

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
        Walk walk(visitor, control, order, skipHidden);
        walk.run(std::move(roots));
        return;
    }
    WalkControl shared = control;
    if (t_heldBudget == budget) {
        shared.jobs = 1;
        Walk walk(visitor, shared, order, skipHidden);
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
    Walk walk(visitor, shared, order, skipHidden, threads);
    walk.run(std::move(roots));
}

} // namespace vellico::platform
