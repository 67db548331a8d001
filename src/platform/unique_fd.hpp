#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace vellico::platform {

// Owns one file descriptor and closes it when it goes away. -1 means "none".
// close() errors are ignored here: callers that must know whether a write
// reached the disk call release() and close the descriptor themselves.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    int release() { return std::exchange(m_fd, -1); }
    // Another descriptor of the same open file (close-on-exec); invalid when
    // none could be made.
    UniqueFd duplicate() const
    {
        return UniqueFd(m_fd < 0 ? -1 : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
    }

    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            // Never retry close on EINTR: on Linux the descriptor is gone either way.
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace vellico::platform
