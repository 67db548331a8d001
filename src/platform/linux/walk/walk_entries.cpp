#include "platform/linux/walk/walk.hpp"

#include <cerrno>

namespace vellico::platform::walk {

// Walks one task on this thread: its directory, or its batch of files, and
// everything below, depth first on the thread's stack.
void Walk::runTask(Task task, Worker& w)
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
void Walk::list(Frame& frame, Worker& w)
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

// Handles the entry named w.name of the top directory.
void Walk::handleEntry(Worker& w, unsigned char type)
{
    Frame& top = w.stack.back();
    Node& node = *top.node;
    const char* name = w.name.c_str();
    for (int attempt = 0; attempt < kTypeChangeAttempts; ++attempt) {
        if (type != DT_DIR) {
            if (!isDirectory(node, m_visitor.entry(top.fd.get(), node, name, type, top.tally))) {
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
Walk::Opened Walk::openChild(Frame& frame, const char* name, Task& out)
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

} // namespace vellico::platform::walk
