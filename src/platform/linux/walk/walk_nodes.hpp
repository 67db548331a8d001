#pragma once

#include "platform/linux/walk/name_list.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"

#include <atomic>

namespace vellico::platform::walk {

// A directory and the bookkeeping that outlives its frame: a directory whose
// subtrees went to other threads is finished by whichever thread ends last.
struct Node : WalkDirectory {
    // One for the frame or queued task working on it, one per live child.
    std::atomic<int> refs{1};
    std::atomic<bool> failedInside{false};
};

inline Node* parentOf(const Node& node)
{
    return const_cast<Node*>(static_cast<const Node*>(node.parent));
}

// A directory to list and walk, or (with `files`) a batch of files of a
// directory some other thread is listing or has listed: the batch is handled
// as the rest of that directory, with its own descriptor on it.
struct Task {
    Node* node = nullptr;
    UniqueFd fd;
    NameList files;
    bool batch = false;
};

} // namespace vellico::platform::walk
