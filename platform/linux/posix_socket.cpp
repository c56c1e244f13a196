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

// What is left until deadline as a socket time-out: at least a
// microsecond, since zero would mean no limit at all.
timeval TimeUntil(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    const auto left = std::max(duration_cast<microseconds>(deadline - steady_clock::now()), microseconds(1));
    return timeval{static_cast<time_t>(left.count() / 1000000),
                   static_cast<suseconds_t>(left.count() % 1000000)};
}

// A signal handled on the calling thread, or a stop and continue of the
// process, interrupts a wait; with a send or receive time-out set the
// system does not restart it, and a plain retry would wait the whole
// time-out again, so that repeated stops could make a wait endless. The
// platform has no such failure: the wait goes on, for what is left of the
// time-out option's limit as it stood when the call began. The option is
// put back afterwards.
template <typename Call>
auto RetryInterrupted(int fd, int option, Call call)
{
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    if (result != -1 || errno != EINTR)
        return result;
    timeval limit{};
    socklen_t size = sizeof limit;
    const bool limited = ::getsockopt(fd, SOL_SOCKET, option, &limit, &size) == 0 &&
                         (limit.tv_sec != 0 || limit.tv_usec != 0);
    const auto deadline = start + std::chrono::seconds(limit.tv_sec) + std::chrono::microseconds(limit.tv_usec);
    do {
        if (limited) {
            const timeval left = TimeUntil(deadline);
            ::setsockopt(fd, SOL_SOCKET, option, &left, sizeof left);
        }
        result = call();
    } while (result == -1 && errno == EINTR);
    const int error = errno;
    if (limited)
        ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
    errno = error;
    return result;
}

}  // namespace

namespace posix {

int socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }

int bind(int fd, const sockaddr* address, socklen_t length) { return ::bind(fd, address, length); }

int listen(int fd, int backlog) { return ::listen(fd, backlog); }

int accept(int fd, sockaddr* address, socklen_t* length)
{
    return RetryInterrupted(fd, SO_RCVTIMEO, [&] { return ::accept4(fd, address, length, SOCK_CLOEXEC); });
}

// An interrupted connect goes on by itself; on this system, calling it
// again on a blocking socket waits for that same attempt once more (and
// fails with EALREADY if the socket's send time-out runs out meanwhile).
int connect(int fd, const sockaddr* address, socklen_t length)
{
    return RetryInterrupted(fd, SO_SNDTIMEO, [&] { return ::connect(fd, address, length); });
}

// The system bounds a blocking connect by the socket's send time-out, so
// that is set for the call and put back afterwards.
int connect_within(int fd, const sockaddr* address, socklen_t length, int timeoutMs)
{
    timeval previous{};
    socklen_t size = sizeof previous;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previous, &size) != 0)
        return -1;
    const timeval limit = TimeUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int result = posix::connect(fd, address, length);
    const int error = errno;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &previous, sizeof previous);
    errno = error;
    return result;
}

ssize_t sendto(int fd, const void* bytes, size_t count, int flags, const sockaddr* to,
               socklen_t length)
{
    return RetryInterrupted(fd, SO_SNDTIMEO, [&] { return ::sendto(fd, bytes, count, flags, to, length); });
}

ssize_t recvfrom(int fd, void* buffer, size_t count, int flags, sockaddr* from, socklen_t* length)
{
    return RetryInterrupted(fd, SO_RCVTIMEO,
                            [&] { return ::recvfrom(fd, buffer, count, flags, from, length); });
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

int getsockopt(int fd, int level, int option, void* value, socklen_t* length)
{
    return ::getsockopt(fd, level, option, value, length);
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
