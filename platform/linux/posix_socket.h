// The system's own socket calls, reachable under their own names from the
// stand-ins in winsock.cpp, where winsock2.h hides them.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

// The stand-ins keep descriptors non-blocking, so that none of these calls
// waits in the system: one that would have to fails with EAGAIN (connect
// with EINPROGRESS, or EALREADY while its attempt goes on), and the
// stand-in waits with wait_ready for as long as the platform would. The
// one exception is a listener whose accept may wait without end, which
// the stand-in lets block in the system (set_blocking).
namespace posix {

using Clock = std::chrono::steady_clock;

int socket(int family, int type, int protocol);
int bind(int fd, const sockaddr* address, socklen_t length);
int listen(int fd, int backlog);
// The accepted descriptor is close-on-exec and non-blocking, as the
// stand-ins make every descriptor.
int accept(int fd, sockaddr* address, socklen_t* length);
int connect(int fd, const sockaddr* address, socklen_t length);
ssize_t sendto(int fd, const void* bytes, size_t count, int flags, const sockaddr* to,
               socklen_t length);
ssize_t recvfrom(int fd, void* buffer, size_t count, int flags, sockaddr* from, socklen_t* length);
int getpeername(int fd, sockaddr* address, socklen_t* length);
int getsockname(int fd, sockaddr* address, socklen_t* length);
int shutdown(int fd, int how);
int close(int fd);
int setsockopt(int fd, int level, int option, const void* value, socklen_t length);
int getsockopt(int fd, int level, int option, void* value, socklen_t* length);
// Makes fd's calls wait in the system (blocking true) or fail with EAGAIN
// instead; 0, or -1 with errno.
int set_blocking(int fd, bool blocking);
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);
int getnameinfo(const sockaddr* address, socklen_t length, char* host, socklen_t hostSize,
                char* service, socklen_t serviceSize, int flags);

// Waits until fd is ready for events (POLLIN, POLLOUT), has failed or is
// shut down: 0 then; -1 with ETIMEDOUT once deadline has passed
// (Clock::time_point::max() never does), or with the system's error.
// However long the wait, and also in a process under nice, the system's
// timer slack lets it end at most half a millisecond after deadline; what
// the scheduler adds before the thread runs again comes on top. A signal,
// or a stop and continue of the process, neither ends it nor moves its
// deadline; under an emulator that restarts an interrupted poll with its
// whole time-out, a continue may add up to a tenth of a second.
int wait_ready(int fd, short events, Clock::time_point deadline);
// The same wait over count descriptors, until any of them is ready; the
// revents of each say which.
int wait_any(pollfd* descriptors, nfds_t count, Clock::time_point deadline);

}  // namespace posix
