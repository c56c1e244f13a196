// The system's own socket calls for the tests' raw peers. This file never
// includes winsock2.h, so each call here is the real one.
#include "tests/raw_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace raw {

namespace {

using Clock = std::chrono::steady_clock;

struct Loopback {
    sockaddr_storage storage{};
    socklen_t length = 0;

    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

Loopback LoopbackAddress(Family family, int port)
{
    Loopback address;
    if (family == Family::V4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.length = sizeof *in;
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        in6->sin6_addr = in6addr_loopback;
        address.length = sizeof *in6;
    }
    return address;
}

int Domain(Family family) { return family == Family::V4 ? AF_INET : AF_INET6; }

int Bound(Family family, int port)
{
    int fd = ::socket(Domain(family), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    Loopback address = LoopbackAddress(family, port);
    if (::bind(fd, address.get(), address.length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for events on fd until the deadline; the events that came, or 0.
short WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready > 0)
            return entry.revents;
        if (ready == 0 || errno != EINTR)
            return 0;
    }
}

Clock::time_point After(int limitMs) { return Clock::now() + std::chrono::milliseconds(limitMs); }

}  // namespace

int Listen(Family family, int port, int backlog)
{
    int fd = Bound(family, port);
    if (fd >= 0 && ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int BindOnly(Family family) { return Bound(family, 0); }

int LocalPort(int fd)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return -1;
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    return -1;
}

int Accept(const std::vector<int>& listeners, int limitMs)
{
    const auto deadline = After(limitMs);
    std::vector<pollfd> entries;
    for (int fd : listeners)
        entries.push_back({fd, POLLIN, 0});
    for (;;) {
        int ready = ::poll(entries.data(), entries.size(), MillisecondsLeft(deadline));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return -1;
        for (const pollfd& entry : entries) {
            if (entry.revents & POLLIN) {
                int fd = ::accept4(entry.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0) {
                    // Blocking again; every wait below is bounded by poll.
                    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                    return fd;
                }
            }
        }
        if (Clock::now() >= deadline)
            return -1;
    }
}

int Connect(Family family, int port, int limitMs)
{
    int fd = ::socket(Domain(family), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Loopback address = LoopbackAddress(family, port);
    if (::connect(fd, address.get(), address.length) != 0) {
        int error = errno;
        if (error != EINPROGRESS || !(WaitFor(fd, POLLOUT, After(limitMs)) & POLLOUT)) {
            ::close(fd);
            return -1;
        }
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            ::close(fd);
            return -1;
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool Send(int fd, const std::string& bytes, int limitMs)
{
    const auto deadline = After(limitMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!(WaitFor(fd, POLLOUT, deadline) & POLLOUT))
            return false;
        ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (count > 0)
            sent += static_cast<std::size_t>(count);
    }
    return true;
}

std::string Receive(int fd, std::size_t count, int limitMs)
{
    const auto deadline = After(limitMs);
    std::string bytes;
    while (bytes.size() < count) {
        if (!WaitFor(fd, POLLIN, deadline))
            break;
        char buffer[4096];
        std::size_t want = std::min(sizeof buffer, count - bytes.size());
        ssize_t got = ::recv(fd, buffer, want, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            break;
        if (got > 0)
            bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

End WaitForEnd(int fd, int limitMs)
{
    const auto deadline = After(limitMs);
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline))
            return End::Open;
        char byte;
        ssize_t got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        if (got == 0)
            return End::Closed;
        if (got > 0)
            return End::Data;
        if (errno == ECONNRESET)
            return End::Reset;
        if (errno != EAGAIN && errno != EINTR)
            return End::Failed;
        if (Clock::now() >= deadline)
            return End::Open;
    }
}

std::size_t Unread(int fd)
{
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<std::size_t>(count);
}

void ShutdownSend(int fd) { ::shutdown(fd, SHUT_WR); }

void Reset(int fd)
{
    if (fd < 0)
        return;
    linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

void Close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int OpenDescriptors()
{
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr)
        return -1;
    int count = 0;
    while (dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(directory);
    // The listing's own descriptor is not one of ours.
    return count - 1;
}

}  // namespace raw
