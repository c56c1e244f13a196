// The system's socket calls under their own names. This file sees the
// system headers only, never winsock2.h, so each name here is the real one.
#include "platform/linux/posix_socket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

// No poll of a wait lasts longer than this. The system lets a poll end
// late by a thousandth of its length (its timer slack), five thousandths
// in a process under nice, so a short slice keeps a wait of any length
// within half a millisecond of its deadline. It also bounds what a stop
// of the process can add where the poll is taken up again with its whole
// time-out after the continue, as qemu-user does.
constexpr std::chrono::milliseconds longestPoll{100};

// How long the next poll of a wait until deadline lasts, in milliseconds
// as poll takes them: -1 for no deadline. What is left is rounded up, so
// that the wait does not end before its deadline.
int NextPoll(posix::Clock::time_point deadline)
{
    using namespace std::chrono;
    if (deadline == posix::Clock::time_point::max())
        return -1;
    const auto left = ceil<milliseconds>(deadline - posix::Clock::now());
    return static_cast<int>(std::clamp<milliseconds::rep>(left.count(), 0, longestPoll.count()));
}

}  // namespace

namespace posix {

int socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }

int bind(int fd, const sockaddr* address, socklen_t length) { return ::bind(fd, address, length); }

int listen(int fd, int backlog) { return ::listen(fd, backlog); }

int accept(int fd, sockaddr* address, socklen_t* length)
{
    return ::accept4(fd, address, length, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

int connect(int fd, const sockaddr* address, socklen_t length) { return ::connect(fd, address, length); }

ssize_t sendto(int fd, const void* bytes, size_t count, int flags, const sockaddr* to,
               socklen_t length)
{
    return ::sendto(fd, bytes, count, flags, to, length);
}

ssize_t recvfrom(int fd, void* buffer, size_t count, int flags, sockaddr* from, socklen_t* length)
{
    return ::recvfrom(fd, buffer, count, flags, from, length);
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

int set_blocking(int fd, bool blocking)
{
    int nonBlocking = blocking ? 0 : 1;
    return ::ioctl(fd, FIONBIO, &nonBlocking);
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

int wait_ready(int fd, short events, Clock::time_point deadline)
{
    pollfd descriptor{fd, events, 0};
    return wait_any(&descriptor, 1, deadline);
}

int wait_any(pollfd* descriptors, nfds_t count, Clock::time_point deadline)
{
    for (;;) {
        // poll, not ppoll: a stop of the process cuts the wait short, and
        // the system takes it up again after the continue, poll with the
        // end it had, ppoll for what was left when the stop came, afresh.
        // Each slice ends on time either way; the deadline is the clock's.
        const int ready = ::poll(descriptors, count, NextPoll(deadline));
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready == 0 && Clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return -1;
        }
        // A signal came, or a slice short of the deadline ended: what is
        // left of the wait goes on.
    }
}

}  // namespace posix
