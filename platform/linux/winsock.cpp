// The socket stand-ins: SOCKET handles over this system's descriptors, with
// errno codes as the per-thread last error. Descriptors are non-blocking:
// a call on a socket the program keeps blocking waits here, with poll, for
// as long as the time-out the program set allows, which the system's own
// socket time-outs would overrun (its timer wheel rounds a 30 s one up by
// as much as 2 s). An accept on a blocking socket waits in the system.
//
// winsock2.h comes first: it hides the system's declarations of the socket
// calls, which posix_socket.h would otherwise bring in under their own names.
#include "platform/linux/winsock2.h"
#include "platform/extensions.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
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
    std::atomic<bool> nonBlocking;  // as the program made it; the descriptor is too, unless accept made it block
    std::atomic<bool> descriptorBlocks{false};  // the descriptor's own mode, set by accept only
    std::atomic<bool> closed{false};  // set by closesocket
    // SO_EXCLUSIVEADDRUSE as set; Linux never lets another socket bind a
    // listener's port anyway (short of SO_REUSEPORT, which nothing here sets).
    std::atomic<bool> exclusive{false};
    // SO_RCVTIMEO and SO_SNDTIMEO as set, in milliseconds; 0 is no limit.
    std::atomic<DWORD> receiveTimeoutMs{0};
    std::atomic<DWORD> sendTimeoutMs{0};
    // A reset that came after the connection was made but before the
    // program learnt how its attempt went; the next send or receive
    // reports it.
    std::atomic<int> pendingError{0};
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

// Gives the descriptor a new handle, with the time-outs of the listener it
// was accepted from, if any. Closes it when there is no memory left to
// record it.
SOCKET Register(int fd, int type, bool nonBlocking, const SocketRecord* listener = nullptr)
{
    try {
        auto record = std::make_shared<SocketRecord>(fd, type, nonBlocking);
        if (listener != nullptr) {
            record->receiveTimeoutMs.store(listener->receiveTimeoutMs.load());
            record->sendTimeoutMs.store(listener->sendTimeoutMs.load());
        }
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

using Clock = posix::Clock;

// Until when a call may wait for its socket; empty when it may not wait.
using WaitLimit = std::optional<Clock::time_point>;

// How long a call on record with flags may wait: until deadline on a
// blocking socket, not at all on a non-blocking one or with MSG_DONTWAIT.
WaitLimit LimitOf(const SocketRecord& record, int flags, Clock::time_point deadline)
{
    if (record.nonBlocking.load() || (flags & MSG_DONTWAIT) != 0)
        return std::nullopt;
    return deadline;
}

// The deadline of a call starting now on a socket with this time-out;
// none for 0, as on the platform.
Clock::time_point DeadlineAfter(const std::atomic<DWORD>& timeoutMs)
{
    const DWORD milliseconds = timeoutMs.load();
    if (milliseconds == 0)
        return Clock::time_point::max();
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// A call that failed only because it would have had to wait; connect says
// so with EINPROGRESS, and with EALREADY while its attempt goes on.
// EWOULDBLOCK is EAGAIN here.
bool HadToWait(int error)
{
    return error == EAGAIN || error == EINPROGRESS || error == EALREADY;
}

// Makes call, which does not wait, and again each time the socket is ready
// for events, until it no longer has to wait or the socket is closed. A
// call that may not wait is made once; one still waiting when its limit
// passes fails with ETIMEDOUT, as the platform reports a time-out. A
// socket closed during the wait is not called again: its caller fails.
template <typename Call>
auto WaitFor(const SocketRecord& record, short events, const WaitLimit& limit, Call call)
{
    auto result = call();
    while (limit && result < 0 && HadToWait(errno) && !record.closed.load()) {
        if (posix::wait_ready(record.fd, events, *limit) != 0 || record.closed.load())
            return result;
        result = call();
    }
    return result;
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

// An option's value as setsockopt takes it, at least a Value's size.
template <typename Value>
bool ReadOption(const char* value, int valueLength, Value* read)
{
    if (value == nullptr)
        return Refuse(EFAULT);
    if (valueLength < static_cast<int>(sizeof(Value)))
        return Refuse(EINVAL);
    std::memcpy(read, value, sizeof *read);
    return true;
}

// Gives getsockopt's caller an option the stand-in records.
template <typename Value>
int WriteOption(Value recorded, char* value, int* valueLength)
{
    if (*valueLength < static_cast<int>(sizeof recorded))
        return Fail(EFAULT);
    std::memcpy(value, &recorded, sizeof recorded);
    *valueLength = sizeof recorded;
    return 0;
}

bool IsTimeout(int level, int option)
{
    return level == SOL_SOCKET && (option == SO_RCVTIMEO || option == SO_SNDTIMEO);
}

// The record's SO_RCVTIMEO or SO_SNDTIMEO.
std::atomic<DWORD>& TimeoutOf(SocketRecord& record, int option)
{
    return option == SO_RCVTIMEO ? record.receiveTimeoutMs : record.sendTimeoutMs;
}

// Records SO_RCVTIMEO or SO_SNDTIMEO, a DWORD of milliseconds, for the
// calls that wait to keep to.
int SetTimeout(SocketRecord& record, int option, const char* value, int valueLength)
{
    DWORD milliseconds;
    if (!ReadOption(value, valueLength, &milliseconds))
        return SOCKET_ERROR;
    TimeoutOf(record, option).store(milliseconds);
    return 0;
}

int SetExclusive(SocketRecord& record, const char* value, int valueLength)
{
    BOOL on;
    if (!ReadOption(value, valueLength, &on))
        return SOCKET_ERROR;
    record.exclusive.store(on != FALSE);
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
    const int fd = posix::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
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

namespace {

// Makes record's descriptor block, or not, unless it already does as asked.
bool DescriptorBlocks(SocketRecord& record, bool blocks)
{
    if (record.descriptorBlocks.load() == blocks)
        return true;
    if (posix::set_blocking(record.fd, blocks) != 0)
        return false;
    record.descriptorBlocks.store(blocks);
    return true;
}

// An accept that waits without end waits in the system's own accept: a
// wait in poll and a second accept cost a busy server up to a tenth of its
// time. closesocket's shutdown ends it as it ends a poll, and a signal does
// not. Falls back on poll when the descriptor's mode cannot be changed.
template <typename Call>
int Accept(SocketRecord& record, const WaitLimit& limit, Call call)
{
    if (limit && *limit == Clock::time_point::max() && DescriptorBlocks(record, true)) {
        int fd = call();
        while (fd < 0 && errno == EINTR && !record.closed.load())
            fd = call();
        return fd;
    }
    if (!DescriptorBlocks(record, false))
        return -1;
    // Another thread may take the connection that made the socket ready;
    // the wait then goes on.
    return WaitFor(record, POLLIN, limit, call);
}

}  // namespace

SOCKET accept(SOCKET s, struct sockaddr* address, int* addressLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return INVALID_SOCKET;
    socklen_t length;
    if (!ReadLength(address, addressLength, &length))
        return INVALID_SOCKET;
    // As on the platform, a receive time-out does not bound an accept.
    const WaitLimit limit = LimitOf(*record, 0, Clock::time_point::max());
    const int fd = Accept(*record, limit, [&] {
        return posix::accept(record->fd, address, address != nullptr ? &length : nullptr);
    });
    const int error = errno;
    if (!Succeeded(*record, fd, error)) {
        // A connection accepted just as the listener was closed goes too.
        if (fd >= 0)
            posix::close(fd);
        return INVALID_SOCKET;
    }
    WriteLength(address, addressLength, length);
    // An accepted socket is blocking, whatever its listener is, and takes
    // its time-outs, as on the platform and on this system.
    return Register(fd, record->type, false, record.get());
}

namespace {

// Reads and clears the socket's error, as SO_ERROR does, into *error. A
// reset that came after the connection was made is kept for the next send
// or receive: the attempt itself succeeded, as a blocking connect would
// have said, where a refused one fails with ECONNREFUSED.
bool TakeSocketError(SocketRecord& record, int* error)
{
    socklen_t length = sizeof *error;
    if (posix::getsockopt(record.fd, SOL_SOCKET, SO_ERROR, error, &length) != 0)
        return Refuse(errno);
    if (*error == ECONNRESET) {
        record.pendingError.store(*error);
        *error = 0;
    }
    return true;
}

// Waits until the attempt that connect started on record is over, for as
// long as limit allows, and says how it went: 0, or -1 with errno set.
int AwaitConnect(SocketRecord& record, Clock::time_point limit)
{
    if (posix::wait_ready(record.fd, POLLOUT, limit) != 0)
        return -1;
    int error = 0;
    if (record.closed.load() || !TakeSocketError(record, &error)) {
        errno = EBADF;
        return -1;
    }
    errno = error;
    return error == 0 ? 0 : -1;
}

}  // namespace

// An attempt that has to wait: on a non-blocking socket it goes on while
// the call fails, as on the platform, with WSAEWOULDBLOCK rather than this
// system's EINPROGRESS; on a blocking one the send time-out bounds it, as
// on this system. Once the socket is writable the attempt is over, and its
// error says how it went: connect is not called again, since on a socket
// that closesocket shut down meanwhile that would start a new attempt.
int connect(SOCKET s, const struct sockaddr* address, int addressLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (addressLength < 0)
        return Fail(EINVAL);
    int result = posix::connect(record->fd, address, static_cast<socklen_t>(addressLength));
    int error = errno;
    const WaitLimit limit = LimitOf(*record, 0, DeadlineAfter(record->sendTimeoutMs));
    if (result < 0 && error == EINPROGRESS && !limit)
        error = WSAEWOULDBLOCK;
    else if (result < 0 && error == EINPROGRESS && !record->closed.load()) {
        result = AwaitConnect(*record, *limit);
        error = errno;
    }
    return Succeeded(*record, result, error) ? 0 : SOCKET_ERROR;
}

namespace {

// Fails with the reset that connect left for this call, if there is one.
bool TookPendingError(SocketRecord& record)
{
    const int error = record.pendingError.exchange(0);
    return error != 0 && !Refuse(error);
}

// Sends all count bytes, as a blocking send does, or as many as went before
// its wait ran out or it failed; a send that may not wait sends what fits
// at once.
ssize_t Send(const SocketRecord& record, const char* bytes, size_t count, int flags, const sockaddr* to,
             socklen_t toLength)
{
    const WaitLimit limit = LimitOf(record, flags, DeadlineAfter(record.sendTimeoutMs));
    size_t sent = 0;
    do {
        const ssize_t part = WaitFor(record, POLLOUT, limit, [&] {
            return posix::sendto(record.fd, bytes + sent, count - sent, flags, to, toLength);
        });
        if (part < 0)
            return sent > 0 ? static_cast<ssize_t>(sent) : part;
        sent += static_cast<size_t>(part);
    } while (limit && sent < count);
    return static_cast<ssize_t>(sent);
}

}  // namespace

int sendto(SOCKET s, const char* bytes, int count, int flags, const struct sockaddr* to,
           int toLength)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (count < 0 || toLength < 0)
        return Fail(EINVAL);
    if (TookPendingError(*record))
        return SOCKET_ERROR;
    // A connected stream has one destination; the address a caller passes
    // along (the server's, or the peer's from accept) is not needed.
    const bool stream = record->type == SOCK_STREAM;
    // MSG_NOSIGNAL: a peer that has gone away gives EPIPE, not SIGPIPE.
    const ssize_t sent = Send(*record, bytes, static_cast<size_t>(count), flags | MSG_NOSIGNAL,
                              stream ? nullptr : to, stream ? 0 : static_cast<socklen_t>(toLength));
    const int error = errno;
    if (!Succeeded(*record, sent, error))
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
    if (!ReadLength(from, fromLength, &length) || TookPendingError(*record))
        return SOCKET_ERROR;
    const WaitLimit limit = LimitOf(*record, flags, DeadlineAfter(record->receiveTimeoutMs));
    const ssize_t received = WaitFor(*record, POLLIN, limit, [&] {
        return posix::recvfrom(record->fd, buffer, static_cast<size_t>(count), flags, from,
                               from != nullptr ? &length : nullptr);
    });
    const int error = errno;
    if (!Succeeded(*record, received, error))
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
    if (IsTimeout(level, option))
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
    if (IsTimeout(level, option))
        return WriteOption(TimeoutOf(*record, option).load(), value, valueLength);
    if (level == SOL_SOCKET && option == SO_EXCLUSIVEADDRUSE)
        return WriteOption<BOOL>(record->exclusive.load() ? TRUE : FALSE, value, valueLength);
    if (level == SOL_SOCKET && option == SO_ERROR) {
        int socketError = 0;
        return TakeSocketError(*record, &socketError) ? WriteOption(socketError, value, valueLength) : SOCKET_ERROR;
    }
    socklen_t length = static_cast<socklen_t>(*valueLength);
    const int result = posix::getsockopt(record->fd, level, option, value, &length);
    const int error = errno;
    if (!Succeeded(*record, result, error))
        return SOCKET_ERROR;
    *valueLength = static_cast<int>(length);
    return 0;
}

int ioctlsocket(SOCKET s, long command, u_long* argument)
{
    RecordPtr record = Lookup(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    if (command != static_cast<long>(FIONBIO))
        return Fail(EINVAL);
    if (argument == nullptr)
        return Fail(EFAULT);
    // The descriptor stays non-blocking; the calls wait here, or not.
    record->nonBlocking.store(*argument != 0);
    return 0;
}

namespace {

// What poll's revents for a socket waited on as what say of it. A connect
// that has failed, or ended in a reset after connecting, sets POLLERR.
int FoundIn(short revents, int what, bool closed)
{
    if (closed)
        return SOCKET_FAILED;
    if (revents == 0)
        return SOCKET_WAITING;
    if (what == WAIT_CONNECT && (revents & (POLLERR | POLLHUP)) != 0)
        return SOCKET_FAILED;
    return SOCKET_READY;
}

}  // namespace

int WaitForSockets(const SOCKET* sockets, int count, int what, DWORD milliseconds, int* found)
{
    if (count < 0 || count > SOCKETS_WAITED_AT_MOST || (what != WAIT_RECEIVE && what != WAIT_CONNECT))
        return Fail(EINVAL);
    if (count > 0 && (sockets == nullptr || found == nullptr))
        return Fail(EFAULT);
    std::array<RecordPtr, SOCKETS_WAITED_AT_MOST> records;
    std::array<pollfd, SOCKETS_WAITED_AT_MOST> descriptors{};
    const short events = what == WAIT_RECEIVE ? POLLIN : POLLOUT;
    for (int i = 0; i < count; ++i) {
        records[i] = Lookup(sockets[i]);
        if (records[i] == nullptr)
            return SOCKET_ERROR;
        descriptors[i] = {records[i]->fd, events, 0};
    }
    std::fill(found, found + count, SOCKET_WAITING);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (posix::wait_any(descriptors.data(), static_cast<nfds_t>(count), deadline) != 0) {
        const int error = errno;
        SetLastError(static_cast<DWORD>(error));
        return error == ETIMEDOUT ? 0 : SOCKET_ERROR;
    }
    int over = 0;
    for (int i = 0; i < count; ++i) {
        // A socket closed meanwhile has failed: the next call on it fails.
        found[i] = FoundIn(descriptors[i].revents, what, records[i]->closed.load());
        over += found[i] != SOCKET_WAITING;
    }
    return over;
}

int closesocket(SOCKET s)
{
    RecordPtr record = Remove(s);
    if (record == nullptr)
        return SOCKET_ERROR;
    record->closed.store(true);
    // Wakes a call waiting on the socket in another thread: its poll sees
    // the socket shut down, and the call the closed flag. An unconnected
    // socket reports ENOTCONN, which is harmless; it wakes all the same.
    // Out of the table, the record gains no new holder: with none but this
    // one, no call is under way, and the descriptor's close does it all.
    if (record.use_count() > 1)
        posix::shutdown(record->fd, SHUT_RDWR);
    return 0;
}
