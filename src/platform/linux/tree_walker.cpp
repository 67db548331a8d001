#include "platform/tree_walker.hpp"

#include "platform/linux/walk/descriptor_budget.hpp"
#include "platform/linux/walk/disk_wait_pacer.hpp"
#include "platform/linux/walk/name_list.hpp"
#include "platform/linux/walk/walk_nodes.hpp"
#include "platform/linux/walk/work_queue.hpp"
#include "platform/walk_budget.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <thread>

namespace vellico::platform {

// By default, threads that wait on the disk rather than work are joined by
// others, up to this many in all.
constexpr int kWaitingThreads = 8;

int walkThreads(int jobs)
{
    if (jobs > 0) {
        return std::min(jobs, 64);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1U, 8U));
}

int walkThreadLimit(int jobs)
{
    return jobs > 0 ? walkThreads(jobs) : std::max(walkThreads(0), kWaitingThreads);
}

namespace {

using walk::DescriptorBudget;
using walk::DiskWaitPacer;
using walk::NameList;
using walk::Node;
using walk::parentOf;
using walk::Task;
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
        : m_visitor(visitor), m_calls(control.calls ? *control.calls : defaultSystemCalls()),
          m_stop(control.stop), m_progress(control.progress),
          m_postOrder(order == WalkOrder::postOrder), m_skipHidden(skipHidden),
          m_queue(walkThreadLimit(control.jobs), walkThreads(control.jobs)),
          m_budget(control.budget ? control.budget->threads() : m_queue.threadLimit())
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
        // Threads past the first ones wait until the walk wants them (see
        // pace()), or until it ends.
        std::vector<std::thread> helpers;
        for (int i = 1; i < m_queue.threadLimit(); ++i) {
            helpers.emplace_back([this, i] { work(i); });
        }
        work(0);
        for (std::thread& helper : helpers) {
            helper.join();
        }
    }

private:
    enum class Opened { opened, gone, notDirectory, refused };

    void work(int index)
    {
        if (!m_queue.waitForTurn(index)) {
            return;
        }
        Worker worker;
        while (std::optional<Task> task = m_queue.take(worker.pacer)) {
            runTask(std::move(*task), worker);
            m_queue.finishTask();
        }
    }

    // Called at every step of the walk: when the thread has spent most of
    // the last stretch asleep (on the disk, since waits for work are left
    // out), one more thread joins the walk.
    void pace(Worker& w)
    {
        if (!w.pacer.checkpoint() || !m_queue.mayGrow()) {
            return;
        }
        if (w.pacer.waitingOnDisk()) {
            m_queue.addThread();
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
            maybeShare(w);
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
        UniqueFd fd(::fcntl(frame.fd.get(), F_DUPFD_CLOEXEC, 0));
        if (!fd) {
            while (!batch.empty()) {
                std::string name;
                unsigned char type = DT_UNKNOWN;
                batch.pop(name, type);
                frame.others.push(name.c_str(), type);
            }
            return;
        }
        ++frame.node->refs;
        Task task;
        task.node = frame.node;
        task.fd = std::move(fd);
        task.files = std::move(batch);
        task.batch = true;
        m_queue.push(std::move(task));
    }

    // Hands a subdirectory to an idle thread, taken as near the top of the
    // tree as this thread has a directory open: the larger the subtree, the
    // longer the other thread stays busy. Each handed-over directory is an
    // open descriptor, so only as many go to the queue as threads wait.
    void maybeShare(Worker& w)
    {
        if (!m_queue.shareWanted()) {
            return;
        }
        const std::size_t first = m_budget.firstOpenLevel(w.stack.size());
        // Keep one subdirectory for this thread: handing over the last one
        // would only make the threads take turns down a single chain.
        std::size_t waiting = 0;
        for (std::size_t i = first; i < w.stack.size() && waiting < 2; ++i) {
            waiting += w.stack[i].dirs.size();
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
            Task task;
            switch (openChild(frame, w.name.c_str(), task)) {
            case Opened::opened:
                m_queue.push(std::move(task));
                break;
            case Opened::notDirectory:
                // Handled when the frame is the top again: its other
                // entries come first.
                frame.others.push(w.name.c_str(), DT_REG);
                break;
            case Opened::gone:
            case Opened::refused:
                break;
            }
            return;
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
    WorkQueue m_queue;
    DescriptorBudget m_budget;
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
    const int threads = budget->acquire(walkThreadLimit(control.jobs), control.stop);
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
    shared.jobs = threads;
    Walk walk(visitor, shared, order, skipHidden);
    walk.run(std::move(roots));
}

} // namespace vellico::platform
