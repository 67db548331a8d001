// vellico-delay-proxy in front of a small echo server on the loopback: the
// bytes come back whole and in order, the end of a stream goes through both
// ways, a round trip takes at least twice the delay, SIGUSR1 holds the bytes
// until SIGUSR2, and a target that is gone closes the client's side.

#include <gtest/gtest.h>

#include "loopback.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on a port the kernel picks; sets `port`.
int listenAnywhere(unsigned& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Echoes one connection at a time until its end, then ends its own side.
class EchoServer {
public:
    EchoServer()
    {
        m_listener = listenAnywhere(m_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~EchoServer()
    {
        ::shutdown(m_listener, SHUT_RDWR); // wakes accept()
        m_thread.join();
        ::close(m_listener);
    }
    unsigned port() const { return m_port; }

private:
    void serve()
    {
        for (;;) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                return;
            }
            std::vector<char> buffer(64 * 1024);
            ssize_t n = 0;
            while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
                if (::send(fd, buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
                    break;
                }
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    int m_listener = -1;
    unsigned m_port = 0;
    std::thread m_thread;
};

// The proxy as a child process, told to listen on a port the kernel picks;
// the port is read from its first line.
class Proxy {
public:
    Proxy(unsigned targetPort, const char* delayMs)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        const std::string target = std::to_string(targetPort);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::execl(VELLICO_DELAY_PROXY, VELLICO_DELAY_PROXY, "0", target.c_str(), delayMs,
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* line = ::fdopen(out[0], "r");
        if (line == nullptr || std::fscanf(line, "%u", &m_port) != 1) {
            m_port = 0;
        }
        if (line != nullptr) {
            std::fclose(line);
        }
    }
    ~Proxy()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    unsigned port() const { return m_port; }
    void signal(int number) const { ::kill(m_pid, number); }

private:
    pid_t m_pid = -1;
    unsigned m_port = 0;
};

int connectTo(unsigned port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client connected through a proxy with `delayMs` to an echo server;
// `fd` is -1 when any of it could not be set up.
struct Connection {
    explicit Connection(const char* delayMs) : proxy(echo.port(), delayMs)
    {
        if (proxy.port() != 0) {
            fd = connectTo(proxy.port());
        }
    }
    ~Connection()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    EchoServer echo;
    Proxy proxy;
    int fd = -1;
};

// Whether `fd` has something to read (or its end) within `timeout`.
bool readable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

TEST(DelayProxy, EchoesEveryByteInOrderAndPassesTheEndOnBothWays)
{
    const Connection through("20");
    ASSERT_GE(through.fd, 0);
    const int fd = through.fd;

    // 4 MiB in pieces of uneven sizes, so that chunks split and merge.
    std::vector<char> sent(4 * 1024 * 1024);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>((i * 7919) >> 5);
    }
    std::thread writer([&] {
        std::size_t done = 0;
        for (std::size_t piece = 1; done < sent.size(); piece = piece * 3 % 65521 + 1) {
            const std::size_t size = std::min(piece, sent.size() - done);
            const ssize_t n = ::send(fd, sent.data() + done, size, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
    });
    std::vector<char> received;
    std::vector<char> buffer(64 * 1024);
    bool ended = false;
    while (readable(fd, std::chrono::seconds(10))) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            ended = n == 0;
            break;
        }
        received.insert(received.end(), buffer.data(), buffer.data() + n);
    }
    writer.join();
    EXPECT_TRUE(ended) << "the end of the stream did not come back";
    ASSERT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent) << "bytes changed or out of order";
}

TEST(DelayProxy, RoundTripTakesAtLeastTwiceTheDelay)
{
    const Connection through("20.5");
    ASSERT_GE(through.fd, 0);
    const int fd = through.fd;
    for (char byte : {'a', 'b', 'c'}) {
        const Clock::time_point start = Clock::now();
        ASSERT_EQ(::send(fd, &byte, 1, MSG_NOSIGNAL), 1);
        char back = 0;
        ASSERT_TRUE(readable(fd, std::chrono::seconds(5)));
        ASSERT_EQ(::read(fd, &back, 1), 1);
        const auto took = Clock::now() - start;
        EXPECT_EQ(back, byte);
        EXPECT_GE(took, std::chrono::microseconds(41000));
    }
}

TEST(DelayProxy, HoldsBytesFromStopUntilResume)
{
    const Connection through("1");
    ASSERT_GE(through.fd, 0);
    const int fd = through.fd;
    through.proxy.signal(SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the signal is asynchronous
    const char sent[] = "held";
    ASSERT_EQ(::send(fd, sent, 4, MSG_NOSIGNAL), 4);
    EXPECT_FALSE(readable(fd, std::chrono::milliseconds(300))) << "delivered while stopped";
    through.proxy.signal(SIGUSR2);
    std::string back;
    char buffer[8];
    while (back.size() < 4 && readable(fd, std::chrono::seconds(5))) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        back.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(back, "held");
}

TEST(DelayProxy, ClosesTheClientWhenTheTargetIsGone)
{
    unsigned port = 0;
    const int unused = listenAnywhere(port);
    ASSERT_GE(unused, 0);
    ::close(unused); // nothing listens on `port` any more
    Proxy proxy(port, "1");
    ASSERT_NE(proxy.port(), 0u);
    const int fd = connectTo(proxy.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(readable(fd, std::chrono::seconds(5))) << "the client's side stayed open";
    char byte = 0;
    EXPECT_LE(::read(fd, &byte, 1), 0);
    ::close(fd);
}

} // namespace
