#include "platform/linux/walk/walk.hpp"

#include <cerrno>

namespace vellico::platform::walk {

// Hands a batch of the frame's files to another thread, with a
// descriptor of its own on the directory. The directory stays alive
// (and, in post-order walks, in place) until the batch is done. Without a
// descriptor to spare, the files stay with this frame.
void Walk::shareFiles(Frame& frame, NameList batch)
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
bool Walk::shareNames(Frame& frame, NameList& names)
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
void Walk::shareSubdirectories(Worker& w)
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
void Walk::finishTop(Worker& w)
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
UniqueFd Walk::reopenParent(Node& node, int fd)
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
void Walk::complete(Node* node, UniqueFd fd, DirRef parent)
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
void Walk::abandon(Worker& w)
{
    while (!w.stack.empty()) {
        Frame& top = w.stack.back();
        flush(top);
        Node* node = top.node;
        w.stack.pop_back();
        release(node);
    }
}

void Walk::release(Node* node)
{
    while (node != nullptr && --node->refs == 0) {
        Node* up = parentOf(*node);
        delete node;
        node = up;
    }
}

} // namespace vellico::platform::walk
