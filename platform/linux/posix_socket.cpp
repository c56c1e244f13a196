// The system's socket calls under their own names. This file sees the
// system headers only, never winsock2.h, so each name here is the real one.
#include "platform/linux/posix_socket.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

// A signal handled on the calling thread interrupts a wait, and with a send
// or receive time-out set the system never restarts it. The platform has
// no such failure, so the wait simply goes on.
template <typename Call>
auto RetryInterrupted(Call call)
{
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

// What is left until deadline as a socket time-out: at least a
// microsecond, since zero would mean no limit at all.
timeval TimeUntil(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    const auto left = std::max(duration_cast<microseconds>(deadline - steady_clock::now()), microseconds(1));
    return timeval{static_cast<time_t>(left.count() / 1000000),
                   static_cast<suseconds_t>(left.count() % 1000000)};
}

}  // namespace

namespace posix {

int socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }

int bind(int fd, const sockaddr* address, socklen_t length) { return ::bind(fd, address, length); }

int listen(int fd, int backlog) { return ::listen(fd, backlog); }

int accept(int fd, sockaddr* address, socklen_t* length)
{
    return RetryInterrupted([&] { return ::accept4(fd, address, length, SOCK_CLOEXEC); });
}

// An interrupted connect goes on by itself; on this system, calling it
// again on a blocking socket waits for that same attempt once more (and
// fails with EALREADY if the socket's send time-out runs out meanwhile).
int connect(int fd, const sockaddr* address, socklen_t length)
{
    return RetryInterrupted([&] { return ::connect(fd, address, length); });
}

// The system bounds a blocking connect by the socket's send time-out, so
// that is set to what is left before each try and put back afterwards.
int connect_within(int fd, const sockaddr* address, socklen_t length, int timeoutMs)
{
    timeval previous{};
    socklen_t size = sizeof previous;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previous, &size) != 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int result;
    do {
        const timeval limit = TimeUntil(deadline);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        result = ::connect(fd, address, length);
    } while (result == -1 && errno == EINTR);
    const int error = errno;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previous, sizeof previous);
    errno = error;
    return result;
}

ssize_t sendto(int fd, const void* bytes, size_t count, int flags, const sockaddr* to,
               socklen_t length)
{
    return RetryInterrupted([&] { return ::sendto(fd, bytes, count, flags, to, length); });
}

ssize_t recvfrom(int fd, void* buffer, size_t count, int flags, sockaddr* from, socklen_t* length)
{
    return RetryInterrupted([&] { return ::recvfrom(fd, buffer, count, flags, from, length); });
}

int getpeername(int fd, sockaddr* address, socklen_t* length)
{
    return ::getpeername(fd, address, length);
}

int getsockname(int fd, sockaddr* address, socklen_t* length)
{
    return ::getsockname(fd, address, length);
}

int shutdown(int fd, int how) { return ::shutdown(fd, how); }

int close(int fd) { return ::close(fd); }

int setsockopt(int fd, int level, int option, const void* value, socklen_t length)
{
    return ::setsockopt(fd, level, option, value, length);
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    return ::getaddrinfo(node, service, hints, result);
}

void freeaddrinfo(addrinfo* list) { ::freeaddrinfo(list); }

int getnameinfo(const sockaddr* address, socklen_t length, char* host, socklen_t hostSize,
                char* service, socklen_t serviceSize, int flags)
{
    return ::getnameinfo(address, length, host, hostSize, service, serviceSize, flags);
}

}  // namespace posix
