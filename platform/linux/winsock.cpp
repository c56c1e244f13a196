// The socket stand-ins: SOCKET handles over this system's descriptors, with
// errno codes as the per-thread last error.
//
// winsock2.h comes first: it hides the system's declarations of the socket
// calls, which posix_socket.h would otherwise bring in under their own names.
#include "platform/linux/winsock2.h"
#include "platform/extensions.h"

#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/linux/posix_socket.h"

namespace {

// One socket. The descriptor is closed when the last reference goes, so its
// number cannot be given to a new socket while any thread is still inside a
// call on this one.
struct SocketRecord {
    SocketRecord(int fd, int type, bool nonBlocking) : fd(fd), type(type), nonBlocking(nonBlocking)
    {
    }
    ~SocketRecord() { posix::close(fd); }
    SocketRecord(const SocketRecord&) = delete;
    SocketRecord& operator=(const SocketRecord&) = delete;

    const int fd;
    const int type;  // SOCK_STREAM, SOCK_DGRAM, ... without the creation flags
    const bool nonBlocking;
    std::atomic<bool> closed{false};  // set by closesocket
    // SO_EXCLUSIVEADDRUSE as set; Linux never lets another socket bind a
    // listener's port anyway (short of SO_REUSEPORT, which nothing here sets).
    std::atomic<bool> exclusive{false};
};

using RecordPtr = std::shared_ptr<SocketRecord>;

// Handles count up from here and are never reused; stepping by 4 keeps them
// looking like the platform's and readable in hexadecimal.
constexpr SOCKET firstHandle = 0x100;
constexpr SOCKET handleStep = 4;

struct SocketTable {
    std::mutex mutex;
    std::unordered_map<SOCKET, RecordPtr> sockets;
    SOCKET next = firstHandle;
};

// Never destroyed: a thread still running at exit may use a socket.
SocketTable& Table()
{
    static SocketTable* table = new SocketTable;
    return *table;
}

int Fail(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return SOCKET_ERROR;
}

SOCKET FailSocket(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return INVALID_SOCKET;
}

// For checks that report success as a bool.
bool Refuse(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return false;
}

bool WasIssued(SOCKET s, SOCKET next)
{
    return s >= firstHandle && s < next && (s - firstHandle) % handleStep == 0;
}

// Gives the descriptor a new handle. Closes it when there is no memory left
// to record it.
SOCKET Register(int fd, int type, bool nonBlocking)
{
    try {
        auto record = std::make_shared<SocketRecord>(fd, type, nonBlocking);
        SocketTable& table = Table();
        std::lock_guard lock(table.mutex);
        table.sockets.emplace(table.next, std::move(record));
        const SOCKET handle = table.next;
        table.next += handleStep;
        return handle;
    } catch (const std::bad_alloc&) {
        // The record, if it was made, has closed the descriptor.
        return FailSocket(ENOMEM);
    }
}

// The record behind a handle, with a reference the caller holds for the
// length of its call. Null, with the last error set, for a closed handle
// (EBADF) or one never issued (ENOTSOCK).
RecordPtr Lookup(SOCKET s)
{
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto found = table.sockets.find(s);
    if (found != table.sockets.end())
        return found->second;
    SetLastError(WasIssued(s, table.next) ? EBADF : ENOTSOCK);
    return nullptr;
}

// Takes the handle out of the table; later lookups of it fail.
RecordPtr Remove(SOCKET s)
{
    SocketTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto found = table.sockets.find(s);
    if (found == table.sockets.end()) {
        SetLastError(WasIssued(s, table.next) ? EBADF : ENOTSOCK);
        return nullptr;
    }
    RecordPtr record = std::move(found->second);
    table.sockets.erase(found);
    return record;
}

// Judges a call that returned result, with error read from errno right
// after it. A socket closed during the call fails with EBADF whatever the
// call returned: a receive woken by closesocket returns 0, which must not
// read as the peer having left. Sets the last error on failure.
bool Succeeded(const SocketRecord& record, ssize_t result, int error)
{
    if (record.closed.load())
        return Refuse(EBADF);
    if (result < 0)
        return Refuse(error);
    return true;
}

// A blocking call whose SO_RCVTIMEO or SO_SNDTIMEO wait ran out fails with
// EAGAIN (connect with EINPROGRESS, or EALREADY when it was resumed after a
// signal); the platform reports that as a timeout. EWOULDBLOCK is EAGAIN here.
int WaitError(const SocketRecord& record, int flags, int error)
{
    const bool blocking = !record.nonBlocking && (flags & MSG_DONTWAIT) == 0;
    if (blocking && (error == EAGAIN || error == EINPROGRESS || error == EALREADY))
        return ETIMEDOUT;
    return error;
}

// Reads an optional in/out address length: an address needs one, and it
// must not be negative.
bool ReadLength(const sockaddr* address, const int* length, socklen_t* value)
{
    *value = 0;
    if (address == nullptr)
        return true;
    if (length == nullptr)
        return Refuse(EFAULT);
    if (*length < 0)
        return Refuse(EINVAL);
    *value = static_cast<socklen_t>(*length);
    return true;
}

void WriteLength(const sockaddr* address, int* length, socklen_t value)
{
    if (address != nullptr)
        *length = value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Lets a restarted server bind its port at once, while connections of its
// previous run linger in TIME_WAIT. Linux still refuses a second listener.
bool ReuseAddress(const SocketRecord& record)
{
    const int on = 1;
    if (posix::setsockopt(record.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0)
        return true;
    return Refuse(errno);
}

// Sets SO_RCVTIMEO or SO_SNDTIMEO from a DWORD of milliseconds.
int SetTimeout(const SocketRecord& record, int option, const char* value, int valueLength)
{
    if (value == nullptr)
        return Fail(EFAULT);
    if (valueLength < static_cast<int>(sizeof(DWORD)))
        return Fail(EINVAL);
    DWORD milliseconds;
    std::memcpy(&milliseconds, value, sizeof milliseconds);
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
    const int result = posix::setsockopt(record.fd, SOL_SOCKET, option, &timeout, sizeof timeout);
    const int error = errno;
    return Succeeded(record, result, error) ? 0 : SOCKET_ERROR;
}

// A BOOL option's value, which the platform takes as at least a BOOL's size.
bool ReadBool(const char* value, int valueLength, BOOL* on)
{
    if (value == nullptr)
        return Refuse(EFAULT);
    if (valueLength < static_cast<int>(sizeof(BOOL)))
        return Refuse(EINVAL);
    std::memcpy(on, value, sizeof *on);
    return true;
}

int SetExclusive(SocketRecord& record, const char* value, int valueLength)
{
    BOOL on;
    if (!ReadBool(value, valueLength, &on))
        return SOCKET_ERROR;
    record.exclusive.store(on != FALSE);
    return 0;
}

int GetExclusive(const SocketRecord& record, char* value, int* valueLength)
{
    if (*valueLength < static_cast<int>(sizeof(BOOL)))
        return Fail(EFAULT);
    const BOOL on = record.exclusive.load() ? TRUE : FALSE;
    std::memcpy(value, &on, sizeof on);
    *valueLength = sizeof on;
    return 0;
}

// The last error is an int on this surface; resolver codes are negative.
int LastError() { return static_cast<int>(GetLastError()); }

}  // namespace

namespace {

// Startups not yet ended by a cleanup. Sockets need no setup here, but the
// platform pairs each cleanup with a startup and fails one too many.
std::mutex startupMutex;
int startups = 0;

}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data)
{
    // The platform returns this error rather than SOCKET_ERROR.
    if (data == nullptr) {
        SetLastError(EFAULT);
        return EFAULT;
    }
    data->wVersion = versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::lock_guard lock(startupMutex);
    ++startups;
    return 0;
}

int WSACleanup(void)
{
    std::lock_guard lock(startupMutex);
    if (startups == 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    --startups;
    return 0;
}

int WSAGetLastError(void) { return LastError(); }

void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** result)
{
    if (result == nullptr) {
        // The resolver would write through the null pointer; report it the
        // way it reports a failed system call.
        errno = EFAULT;
        SetLastError(static_cast<DWORD>(EAI_SYSTEM));
        return EAI_SYSTEM;
    }
    const int code = posix::getaddrinfo(node, service, hints, result);
    if (code != 0)
        SetLastError(static_cast<DWORD>(code));
    return code;
}

void freeaddrinfo(struct addrinfo* list)
{
    if (list != nullptr)
        posix::freeaddrinfo(list);
}

int getnameinfo(const struct sockaddr* address, socklen_t addressLength, char* host,
                DWORD hostSize, char* service, DWORD serviceSize, int flags)
{
    const int code =
        posix::getnameinfo(address, addressLength, host, hostSize, service, serviceSize, flags);
    if (code != 0)
        SetLastError(static_cast<DWORD>(code));
    return code;
}

SOCKET socket(int family, int type, int protocol)
{
    const int fd = posix::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return FailSocket(errno);
    return Register(fd, type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC), (type & SOCK_NONBLOCK) != 0);
}

int bind(SOCKET s, const struct sockaddr* address, int addressLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (addressLength < 0)
        return Fail(EINVAL);
    if (record->type == SOCK_STREAM && !ReuseAddress(*record))
        return SOCKET_ERROR;
    const int result = posix::bind(record->fd, address, static_cast<socklen_t>(addressLength));
    const int error = errno;
    return Succeeded(*record, result, error) ? 0 : SOCKET_ERROR;
}

int listen(SOCKET s, int backlog)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    const int result = posix::listen(record->fd, backlog);
    const int error = errno;
    return Succeeded(*record, result, error) ? 0 : SOCKET_ERROR;
}

SOCKET accept(SOCKET s, struct sockaddr* address, int* addressLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return INVALID_SOCKET;
    socklen_t length;
    if (!ReadLength(address, addressLength, &length))
        return INVALID_SOCKET;
    const int fd = posix::accept(record->fd, address, address != nullptr ? &length : nullptr);
    const int error = errno;
    if (!Succeeded(*record, fd, WaitError(*record, 0, error))) {
        // A connection accepted just as the listener was closed goes too.
        if (fd >= 0)
            posix::close(fd);
        return INVALID_SOCKET;
    }
    WriteLength(address, addressLength, length);
    // An accepted socket is blocking, whatever its listener is.
    return Register(fd, record->type, false);
}

namespace {

// connect and ConnectWithin: the same checks around different waits.
template <typename Call>
int Connect(SOCKET s, int addressLength, Call call)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (addressLength < 0)
        return Fail(EINVAL);
    const int result = call(record->fd, static_cast<socklen_t>(addressLength));
    const int error = errno;
    return Succeeded(*record, result, WaitError(*record, 0, error)) ? 0 : SOCKET_ERROR;
}

}  // namespace

int connect(SOCKET s, const struct sockaddr* address, int addressLength)
{
    return Connect(s, addressLength, [&](int fd, socklen_t length) {
        return posix::connect(fd, address, length);
    });
}

int ConnectWithin(SOCKET s, const struct sockaddr* address, int addressLength, DWORD milliseconds)
{
    const int timeoutMs = milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
    return Connect(s, addressLength, [&](int fd, socklen_t length) {
        return posix::connect_within(fd, address, length, timeoutMs);
    });
}

int sendto(SOCKET s, const char* bytes, int count, int flags, const struct sockaddr* to,
           int toLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (count < 0 || toLength < 0)
        return Fail(EINVAL);
    // A connected stream has one destination; the address a caller passes
    // along (the server's, or the peer's from accept) is not needed.
    const bool stream = record->type == SOCK_STREAM;
    // MSG_NOSIGNAL: a peer that has gone away gives EPIPE, not SIGPIPE.
    const ssize_t sent = posix::sendto(record->fd, bytes, static_cast<size_t>(count),
                                       flags | MSG_NOSIGNAL, stream ? nullptr : to,
                                       stream ? 0 : static_cast<socklen_t>(toLength));
    const int error = errno;
    if (!Succeeded(*record, sent, WaitError(*record, flags, error)))
        return SOCKET_ERROR;
    return static_cast<int>(sent);
}

int recvfrom(SOCKET s, char* buffer, int count, int flags, struct sockaddr* from,
             int* fromLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (count < 0)
        return Fail(EINVAL);
    socklen_t length;
    if (!ReadLength(from, fromLength, &length))
        return SOCKET_ERROR;
    const ssize_t received = posix::recvfrom(record->fd, buffer, static_cast<size_t>(count), flags,
                                             from, from != nullptr ? &length : nullptr);
    const int error = errno;
    if (!Succeeded(*record, received, WaitError(*record, flags, error)))
        return SOCKET_ERROR;
    WriteLength(from, fromLength, length);
    return static_cast<int>(received);
}

namespace {

// getpeername and getsockname: the same call on different ends.
int QueryAddress(SOCKET s, struct sockaddr* address, int* addressLength,
                 int (*query)(int, sockaddr*, socklen_t*))
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    socklen_t length;
    if (!ReadLength(address, addressLength, &length))
        return SOCKET_ERROR;
    const int result = query(record->fd, address, address != nullptr ? &length : nullptr);
    const int error = errno;
    if (!Succeeded(*record, result, error))
        return SOCKET_ERROR;
    WriteLength(address, addressLength, length);
    return 0;
}

}  // namespace

int getpeername(SOCKET s, struct sockaddr* address, int* addressLength)
{
    return QueryAddress(s, address, addressLength, posix::getpeername);
}

int getsockname(SOCKET s, struct sockaddr* address, int* addressLength)
{
    return QueryAddress(s, address, addressLength, posix::getsockname);
}

int shutdown(SOCKET s, int how)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    // SD_RECEIVE, SD_SEND and SD_BOTH have SHUT_RD, SHUT_WR and SHUT_RDWR's values.
    const int result = posix::shutdown(record->fd, how);
    const int error = errno;
    return Succeeded(*record, result, error) ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int option, const char* value, int valueLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (valueLength < 0)
        return Fail(EINVAL);
    if (level == SOL_SOCKET && (option == SO_RCVTIMEO || option == SO_SNDTIMEO))
        return SetTimeout(*record, option, value, valueLength);
    if (level == SOL_SOCKET && option == SO_EXCLUSIVEADDRUSE)
        return SetExclusive(*record, value, valueLength);
    const int result =
        posix::setsockopt(record->fd, level, option, value, static_cast<socklen_t>(valueLength));
    const int error = errno;
    return Succeeded(*record, result, error) ? 0 : SOCKET_ERROR;
}

int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (value == nullptr || valueLength == nullptr)
        return Fail(EFAULT);
    if (*valueLength < 0)
        return Fail(EINVAL);
    if (level == SOL_SOCKET && option == SO_EXCLUSIVEADDRUSE)
        return GetExclusive(*record, value, valueLength);
    socklen_t length = static_cast<socklen_t>(*valueLength);
    const int result = posix::getsockopt(record->fd, level, option, value, &length);
    const int error = errno;
    if (!Succeeded(*record, result, error))
        return SOCKET_ERROR;
    *valueLength = static_cast<int>(length);
    return 0;
}

int closesocket(SOCKET s)
{
    RecordPtr record = Remove(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    record->closed.store(true);
    // Wakes a call blocked on the socket in another thread (it then sees the
    // closed flag). An unconnected socket reports ENOTCONN, which is harmless.
    // Out of the table, the record gains no new holder: with none but this
    // one, no call is under way, and the descriptor's close does it all.
    if (record.use_count() > 1)
        posix::shutdown(record->fd, SHUT_RDWR);
    return 0;
}
