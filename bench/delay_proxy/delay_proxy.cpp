// vellico-delay-proxy: a TCP relay on the loopback that delivers every byte a
// fixed delay after it arrived, in both directions.
//
//   vellico-delay-proxy LISTEN_PORT TARGET_PORT DELAY_MS
//
// It listens on 127.0.0.1:LISTEN_PORT (0: a port the kernel picks) and prints
// the port it listens on, alone on a line, on stdout once it accepts
// connections. Each connection it accepts is relayed to 127.0.0.1:TARGET_PORT.
// DELAY_MS is a decimal number of milliseconds (0.25 is a quarter of one).
//
// It stands in for `tc netem delay` where the kernel has no netem: a chunk
// read from one side is written to the other DELAY_MS after it was read, so a
// round trip through it takes at least twice the delay. Each direction keeps
// its bytes in order and the bandwidth is not limited, but the delay applies
// to what one read() returned, in user space, not to each packet in the
// kernel. Per connection and direction, one thread reads and stamps chunks
// and another sleeps until each chunk is due: both sleep in the kernel while
// nothing is due, so the relay costs little processor time.
//
// An end of stream is passed on as one (shutdown of the writing side), after
// the same delay as the bytes before it; once both directions have ended, or
// either side fails, both sockets are closed.
//
// SIGUSR1 makes it stop delivering in both directions, as a network that
// drops every packet: what arrives is held (up to a bound per direction,
// past which it stops reading, as a full TCP window) and delivered after
// SIGUSR2, in order.

#include "loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Read at most this much at once; hold at most kHeldLimit per direction
// before the reader waits (the delay then no longer hides the bandwidth, but
// a loopback moves that much in well under a millisecond).
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kHeldLimit = 16 * 1024 * 1024;

// One lock for every connection: it guards the queues, the end flags and
// `g_stopped`. Chunks are a few per round trip, so it is never contended for
// long, and SIGUSR1/SIGUSR2 need only this one to reach every writer.
std::mutex g_mutex;
// Writers that wait for SIGUSR2 wait on this one.
std::condition_variable g_resumed;
bool g_stopped = false;
Clock::duration g_delay{};

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes; // empty: the end of the stream
};

struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    std::size_t held = 0;
    std::condition_variable ready; // a chunk was queued, or the connection ended
    std::condition_variable room;  // the queue went below kHeldLimit
};

// Shared by the four threads of a connection; the last one to let go closes
// both sockets.
struct Connection {
    int fds[2] = {-1, -1}; // the accepted socket, the one to the target
    Direction directions[2];
    bool aborted = false; // under g_mutex

    ~Connection()
    {
        for (int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    // Both sides go: the shutdowns wake the threads blocked in read() and
    // write(), the notifications those waiting on a queue. Called under g_mutex.
    void abort()
    {
        if (aborted) {
            return;
        }
        aborted = true;
        for (int fd : fds) {
            ::shutdown(fd, SHUT_RDWR);
        }
        for (Direction& d : directions) {
            d.ready.notify_all();
            d.room.notify_all();
        }
        g_resumed.notify_all(); // writers held by SIGUSR1 wait there
    }
};

// Reads from `d.from` and queues what it read, stamped with its due time.
void readLoop(std::shared_ptr<Connection> connection, Direction& d)
{
    std::vector<char> buffer(kReadSize);
    for (;;) {
        const ssize_t n = ::read(d.from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // The stamp is taken before the lock: the delay runs from the read.
        const Clock::time_point due = Clock::now() + g_delay;
        std::unique_lock lock(g_mutex);
        if (connection->aborted) {
            return;
        }
        if (n < 0) {
            // A reset: nothing more comes either way.
            connection->abort();
            return;
        }
        d.room.wait(lock, [&] { return d.held < kHeldLimit || connection->aborted; });
        if (connection->aborted) {
            return;
        }
        d.queue.push_back({due, std::vector<char>(buffer.data(), buffer.data() + n)});
        d.held += static_cast<std::size_t>(n);
        if (d.queue.size() == 1) {
            // Only a writer with nothing queued waits for this; one waiting
            // for an earlier chunk's due time need not wake.
            d.ready.notify_one();
        }
        if (n == 0) {
            return;
        }
    }
}

bool writeAll(int fd, const std::vector<char>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes each queued chunk to `d.to` once it is due and deliveries are not
// stopped; the end of the stream becomes a shutdown of the writing side.
void writeLoop(std::shared_ptr<Connection> connection, Direction& d)
{
    // Wake-ups on time: the default slack (50 µs) is a fifth of a 0.25 ms delay.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock lock(g_mutex);
            for (;;) {
                if (connection->aborted) {
                    return;
                }
                if (d.queue.empty()) {
                    d.ready.wait(lock);
                } else if (g_stopped) {
                    g_resumed.wait(lock);
                } else if (Clock::now() < d.queue.front().due) {
                    // Woken early only by an abort (chunks behind this one
                    // are due later): the loop checks again.
                    d.ready.wait_until(lock, d.queue.front().due);
                } else {
                    break;
                }
            }
            chunk = std::move(d.queue.front());
            d.queue.pop_front();
            if (d.held >= kHeldLimit) {
                d.room.notify_one();
            }
            d.held -= chunk.bytes.size();
        }
        if (chunk.bytes.empty()) {
            // The sockets close once the other direction has ended too (the
            // last thread to let go of the connection closes them).
            ::shutdown(d.to, SHUT_WR);
            return;
        }
        if (!writeAll(d.to, chunk.bytes)) {
            std::lock_guard lock(g_mutex);
            connection->abort();
            return;
        }
    }
}

void noDelay(int fd)
{
    // Small writes (one sftp request) leave at once, as over ssh's own socket.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void relay(int accepted, unsigned targetPort)
{
    const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(targetPort);
    if (target < 0 ||
        ::connect(target, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "vellico-delay-proxy: 127.0.0.1:%u: %s\n", targetPort,
                     std::strerror(errno));
        if (target >= 0) {
            ::close(target);
        }
        ::close(accepted);
        return;
    }
    noDelay(accepted);
    noDelay(target);
    auto connection = std::make_shared<Connection>();
    connection->fds[0] = accepted;
    connection->fds[1] = target;
    connection->directions[0].from = accepted;
    connection->directions[0].to = target;
    connection->directions[1].from = target;
    connection->directions[1].to = accepted;
    for (Direction& d : connection->directions) {
        std::thread(readLoop, connection, std::ref(d)).detach();
        std::thread(writeLoop, connection, std::ref(d)).detach();
    }
}

// SIGUSR1 and SIGUSR2 are blocked in every thread and taken here, where
// taking the lock is allowed.
void signalLoop(sigset_t signals)
{
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) {
            continue;
        }
        std::lock_guard lock(g_mutex);
        g_stopped = signal == SIGUSR1;
        if (!g_stopped) {
            g_resumed.notify_all();
        }
    }
}

bool parsePort(const char* text, unsigned& port)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value > 65535) {
        return false;
    }
    port = static_cast<unsigned>(value);
    return true;
}

bool parseDelay(const char* text, Clock::duration& delay)
{
    char* end = nullptr;
    errno = 0;
    const double ms = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(ms) || ms < 0 ||
        ms > 3'600'000) {
        return false;
    }
    delay =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    unsigned listenPort = 0;
    unsigned targetPort = 0;
    if (argc != 4 || !parsePort(argv[1], listenPort) || !parsePort(argv[2], targetPort) ||
        targetPort == 0 || !parseDelay(argv[3], g_delay)) {
        std::fprintf(stderr,
                     "usage: %s LISTEN_PORT TARGET_PORT DELAY_MS\n"
                     "  relays 127.0.0.1:LISTEN_PORT to 127.0.0.1:TARGET_PORT, each byte\n"
                     "  DELAY_MS (decimal) after it arrived; SIGUSR1 holds every byte,\n"
                     "  SIGUSR2 delivers again\n",
                     argv[0]);
        return 2;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // inherited by every thread
    std::thread(signalLoop, signals).detach();

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in address = loopback(listenPort);
    socklen_t length = sizeof address;
    if (listener < 0 || ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "%s: 127.0.0.1:%u: %s\n", argv[0], listenPort, std::strerror(errno));
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);

    for (;;) {
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                continue;
            }
            std::fprintf(stderr, "%s: accept: %s\n", argv[0], std::strerror(errno));
            return 1;
        }
        relay(accepted, targetPort);
    }
}
