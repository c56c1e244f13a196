// The system's own socket calls for the tests' raw peers, on Linux and on
// Windows. On Linux this file never includes the stand-in's winsock2.h, so
// each call here is the real one. Peer sockets never block: every call
// waits in poll first, so each wait is bounded.
#include "tests/support/raw_peer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <cstring>

namespace raw {

namespace {

// ---- What differs between the two systems --------------------------------

#ifdef _WIN32
using Native = SOCKET;
using Length = int;
using PollEntry = WSAPOLLFD;
const int SEND_FLAGS = 0;
const int INTERRUPTED = WSAEINTR;
const int WOULD_BLOCK = WSAEWOULDBLOCK;
const int CONNECTING = WSAEWOULDBLOCK;
const int RESET = WSAECONNRESET;

// Winsock is started once for the whole test program.
const int winsockStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}();

Native ToNative(int fd) { return fd < 0 ? INVALID_SOCKET : static_cast<Native>(fd); }
// Socket handles are 32-bit values, even in a 64-bit process.
int FromNative(Native s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }
int LastError() { return WSAGetLastError(); }
int Poll(PollEntry* entries, std::size_t count, int limitMs)
{
    return WSAPoll(entries, static_cast<ULONG>(count), limitMs);
}
Native NewSocket(int domain) { return socket(domain, SOCK_STREAM, IPPROTO_TCP); }
void NeverBlock(Native s)
{
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
Native AcceptOne(Native listener)
{
    Native s = accept(listener, nullptr, nullptr);
    if (s != INVALID_SOCKET)
        NeverBlock(s);
    return s;
}
void CloseNative(Native s) { closesocket(s); }
const int SHUT_SEND = SD_SEND;
#else
using Native = int;
using Length = socklen_t;
using PollEntry = pollfd;
const int SEND_FLAGS = MSG_NOSIGNAL;
const int INTERRUPTED = EINTR;
const int WOULD_BLOCK = EAGAIN;
const int CONNECTING = EINPROGRESS;
const int RESET = ECONNRESET;

Native ToNative(int fd) { return fd; }
int FromNative(Native fd) { return fd; }
int LastError() { return errno; }
int Poll(PollEntry* entries, std::size_t count, int limitMs) { return ::poll(entries, count, limitMs); }
Native NewSocket(int domain) { return ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0); }
void NeverBlock(Native fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }
Native AcceptOne(Native listener) { return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }
void CloseNative(Native fd) { ::close(fd); }
const int SHUT_SEND = SHUT_WR;
#endif

// ---- The same on both ----------------------------------------------------

using Clock = std::chrono::steady_clock;

struct Loopback {
    sockaddr_storage storage{};
    Length length = 0;

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

template <typename Value>
void SetOption(Native s, int level, int name, const Value& value)
{
    ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

int Bound(Family family, int port, bool sharing = false)
{
    Native s = NewSocket(Domain(family));
    if (FromNative(s) < 0)
        return -1;
    if (sharing)
        SetOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
    Loopback address = LoopbackAddress(family, port);
    if (::bind(s, address.get(), address.length) != 0) {
        CloseNative(s);
        return -1;
    }
    return FromNative(s);
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
        PollEntry entry{ToNative(fd), events, 0};
        int ready = Poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready > 0)
            return entry.revents;
        if (ready == 0 || LastError() != INTERRUPTED)
            return 0;
    }
}

Clock::time_point After(int limitMs) { return Clock::now() + std::chrono::milliseconds(limitMs); }

// A call that did not fail for good: it may be tried again after a wait.
bool Retry(long result) { return result >= 0 || LastError() == WOULD_BLOCK || LastError() == INTERRUPTED; }

}  // namespace

namespace {

int Listening(int fd, int backlog)
{
    if (fd >= 0 && ::listen(ToNative(fd), backlog) != 0) {
        CloseNative(ToNative(fd));
        return -1;
    }
    return fd;
}

}  // namespace

int Listen(Family family, int port, int backlog) { return Listening(Bound(family, port), backlog); }

int ListenSharing(Family family, int port) { return Listening(Bound(family, port, true), 1); }

int BindOnly(Family family) { return Bound(family, 0); }

int LocalPort(int fd)
{
    sockaddr_storage storage{};
    Length length = sizeof storage;
    if (::getsockname(ToNative(fd), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
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
    std::vector<PollEntry> entries;
    for (int fd : listeners)
        entries.push_back({ToNative(fd), POLLIN, 0});
    for (;;) {
        int ready = Poll(entries.data(), entries.size(), MillisecondsLeft(deadline));
        if (ready == 0 || (ready < 0 && LastError() != INTERRUPTED))
            return -1;
        for (const PollEntry& entry : entries) {
            if (entry.revents & POLLIN) {
                if (int fd = FromNative(AcceptOne(entry.fd)); fd >= 0)
                    return fd;
            }
        }
        if (Clock::now() >= deadline)
            return -1;
    }
}

int Connect(Family family, int port, int limitMs)
{
    Native s = NewSocket(Domain(family));
    int fd = FromNative(s);
    if (fd < 0)
        return -1;
    NeverBlock(s);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
    Loopback address = LoopbackAddress(family, port);
    if (::connect(s, address.get(), address.length) != 0) {
        int error = LastError();
        if (error != CONNECTING || !(WaitFor(fd, POLLOUT, After(limitMs)) & POLLOUT)) {
            CloseNative(s);
            return -1;
        }
        Length length = sizeof error;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0) {
            CloseNative(s);
            return -1;
        }
    }
    return fd;
}

bool Send(int fd, const std::string& bytes, int limitMs)
{
    const auto deadline = After(limitMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!(WaitFor(fd, POLLOUT, deadline) & POLLOUT))
            return false;
        long count = ::send(ToNative(fd), bytes.data() + sent, static_cast<int>(bytes.size() - sent), SEND_FLAGS);
        if (!Retry(count))
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
        long got = ::recv(ToNative(fd), buffer, static_cast<int>(want), 0);
        if (got == 0 || !Retry(got))
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
        long got = ::recv(ToNative(fd), &byte, 1, 0);
        if (got == 0)
            return End::Closed;
        if (got > 0)
            return End::Data;
        if (LastError() == RESET)
            return End::Reset;
        if (!Retry(got))
            return End::Failed;
        if (Clock::now() >= deadline)
            return End::Open;
    }
}

FullListener ListenFull(Family family, int port)
{
    FullListener full;
    full.listener = Fd(Listen(family, port, 0));
    const int bound = full.listener.valid() ? LocalPort(full.listener.get()) : -1;
    full.queued = Fd(bound > 0 ? Connect(family, bound, 5000) : -1);
    full.port = full.queued.valid() ? bound : -1;
    return full;
}

void ShutdownSend(int fd) { ::shutdown(ToNative(fd), SHUT_SEND); }

void Reset(int fd)
{
    if (fd < 0)
        return;
    SetOption(ToNative(fd), SOL_SOCKET, SO_LINGER, linger{1, 0});
    CloseNative(ToNative(fd));
}

void Close(int fd)
{
    if (fd >= 0)
        CloseNative(ToNative(fd));
}

#ifdef _WIN32
int OpenDescriptors()
{
    // Handle values are multiples of four, given out lowest first: probing
    // each value up to a bound far above the tests' needs finds them all.
    const ULONG_PTR HANDLE_BOUND = 4 * 8192;
    int count = 0;
    for (ULONG_PTR value = 4; value < HANDLE_BOUND; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}
#else
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
#endif

}  // namespace raw
