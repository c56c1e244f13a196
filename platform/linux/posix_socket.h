// The system's own socket calls, reachable under their own names from the
// stand-ins in winsock.cpp, where winsock2.h hides them.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

// The calls that wait (accept, connect, sendto, recvfrom) go on after a
// signal or a stop and continue of the process, within what was left of
// the socket's time-out.
namespace posix {

int socket(int family, int type, int protocol);
int bind(int fd, const sockaddr* address, socklen_t length);
int listen(int fd, int backlog);
// The accepted descriptor is close-on-exec, like the ones socket() makes.
int accept(int fd, sockaddr* address, socklen_t* length);
int connect(int fd, const sockaddr* address, socklen_t length);
// Connects a blocking socket, giving up after timeoutMs as a blocking
// connect does when its send time-out runs out (EINPROGRESS or EALREADY).
int connect_within(int fd, const sockaddr* address, socklen_t length, int timeoutMs);
ssize_t sendto(int fd, const void* bytes, size_t count, int flags, const sockaddr* to,
               socklen_t length);
ssize_t recvfrom(int fd, void* buffer, size_t count, int flags, sockaddr* from, socklen_t* length);
int getpeername(int fd, sockaddr* address, socklen_t* length);
int getsockname(int fd, sockaddr* address, socklen_t* length);
int shutdown(int fd, int how);
int close(int fd);
int setsockopt(int fd, int level, int option, const void* value, socklen_t length);
int getsockopt(int fd, int level, int option, void* value, socklen_t* length);
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);
int getnameinfo(const sockaddr* address, socklen_t length, char* host, socklen_t hostSize,
                char* service, socklen_t serviceSize, int flags);

}  // namespace posix
