#pragma once

#include "model/file_identity.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vellico::platform {

// The identity value lives in the model; the platform reads it from the
// system.
using model::FileIdentity;

class SystemCalls;

// Identity of the object an open descriptor refers to; none when statx fails.
std::optional<FileIdentity> identityOf(int fd);
std::optional<FileIdentity> identityOf(SystemCalls& calls, int fd);

// Identity of `name` inside the directory `dirFd`, without following a final
// symbolic link; none when it cannot be read.
std::optional<FileIdentity> identityAt(int dirFd, const char* name);
std::optional<FileIdentity> identityAt(SystemCalls& calls, int dirFd, const char* name);

// The directories that hold the open directory `dirFd`, from its parent up to
// the root of this process's file-system tree, found by going up through ".."
// from the descriptor (never by path): each one's identity, nearest first.
// None when one of them cannot be opened or read, or past `maxDepth` levels.
std::optional<std::vector<FileIdentity>> ancestorsOf(int dirFd, std::size_t maxDepth = 4096);

} // namespace vellico::platform
