// The socket layer with the platform's names and conventions: SOCKET
// handles, INVALID_SOCKET and SOCKET_ERROR results, a per-thread last error.
// The address types and constants (sockaddr, addrinfo, AF_INET, ...) are
// this system's own. Its functions of the same names are hidden here so
// that a call in the program always reaches the stand-in below.
#pragma once

#define socket posix_socket_hidden
#define bind posix_bind_hidden
#define listen posix_listen_hidden
#define accept posix_accept_hidden
#define connect posix_connect_hidden
#define sendto posix_sendto_hidden
#define recvfrom posix_recvfrom_hidden
#define getpeername posix_getpeername_hidden
#define getsockname posix_getsockname_hidden
#define shutdown posix_shutdown_hidden
#define setsockopt posix_setsockopt_hidden
#define getsockopt posix_getsockopt_hidden
#define getaddrinfo posix_getaddrinfo_hidden
#define freeaddrinfo posix_freeaddrinfo_hidden
#define getnameinfo posix_getnameinfo_hidden
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#undef socket
#undef bind
#undef listen
#undef accept
#undef connect
#undef sendto
#undef recvfrom
#undef getpeername
#undef getsockname
#undef shutdown
#undef setsockopt
#undef getsockopt
#undef getaddrinfo
#undef freeaddrinfo
#undef getnameinfo

#include <cerrno>

#include "platform/linux/winbase.h"

typedef UINT_PTR SOCKET;
typedef struct addrinfo ADDRINFOA;

#define INVALID_SOCKET ((SOCKET)~(SOCKET)0)
#define SOCKET_ERROR (-1)
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2
#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | (((WORD)(BYTE)(high)) << 8)))

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
} WSADATA, *LPWSADATA;

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup(void);
int WSAGetLastError(void);
void WSASetLastError(int error);

// The platform's names for the codes the program and its tests meet, with
// this system's values.
#define WSAETIMEDOUT ETIMEDOUT
#define WSAEWOULDBLOCK EWOULDBLOCK
#define WSAECONNRESET ECONNRESET
#define WSAECONNABORTED ECONNABORTED
#define WSAEADDRINUSE EADDRINUSE
#define WSAENOTCONN ENOTCONN
#define WSAEMFILE EMFILE
#define WSAENOBUFS ENOBUFS
#define WSA_NOT_ENOUGH_MEMORY ENOMEM
// A listener's port is its own: no other socket may bind it, whatever
// that socket asks for. Takes a BOOL, as on the platform.
#define SO_EXCLUSIVEADDRUSE ((int)(~SO_REUSEADDR))
// A cleanup without a startup left to end; this system has no such code.
#define WSANOTINITIALISED 10093

// Resolution. On failure the resolver's own code (EAI_*) is returned and
// also left as the last error.
int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** result);
void freeaddrinfo(struct addrinfo* list);
int getnameinfo(const struct sockaddr* address, socklen_t addressLength, char* host,
                DWORD hostSize, char* service, DWORD serviceSize, int flags);

// Sockets. Failures return INVALID_SOCKET or SOCKET_ERROR and leave errno's
// code as the last error. A socket's handle is never reused for a new
// socket, so a stale handle fails instead of reaching a stranger's socket:
// with EBADF for a handle that was closed, ENOTSOCK for one never issued.
// Negative lengths fail with EINVAL.
SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const struct sockaddr* address, int addressLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr* address, int* addressLength);
// On a non-blocking socket, an attempt that has to wait fails with
// WSAEWOULDBLOCK and goes on; the socket turns writable once it is over,
// and SO_ERROR then tells how it went. A blocking one waits for as long as
// SO_SNDTIMEO allows. Either way a peer that accepted and reset at once
// has been connected to: its reset is the next send's or receive's.
int connect(SOCKET s, const struct sockaddr* address, int addressLength);
int sendto(SOCKET s, const char* bytes, int count, int flags, const struct sockaddr* to,
           int toLength);
int recvfrom(SOCKET s, char* buffer, int count, int flags, struct sockaddr* from,
             int* fromLength);
int getpeername(SOCKET s, struct sockaddr* address, int* addressLength);
int getsockname(SOCKET s, struct sockaddr* address, int* addressLength);
int shutdown(SOCKET s, int how);
// SO_RCVTIMEO and SO_SNDTIMEO take a DWORD of milliseconds, as on the
// platform; a wait that runs out fails with ETIMEDOUT, within a few
// milliseconds of the time-out however long it is. As on the platform, an
// accept waits whatever SO_RCVTIMEO says, and the socket it gives has its
// listener's time-outs. A signal, or a stop and
// continue of the process, neither ends a wait nor lengthens it.
int setsockopt(SOCKET s, int level, int option, const char* value, int valueLength);
// Reads an option as setsockopt takes it; *valueLength holds the room and
// gets the size written. SO_ERROR reads and clears the socket's error.
int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength);
// FIONBIO with a non-zero *argument makes calls on s fail with
// WSAEWOULDBLOCK rather than wait; with 0 they wait again. The only
// command here.
int ioctlsocket(SOCKET s, long command, u_long* argument);

// Releases the socket. A call blocked on it in another thread fails at once,
// with EBADF, and a connect that it ends makes no further attempt.
int closesocket(SOCKET s);
