// The socket stand-ins against real sockets on loopback. Every port is the
// system's choice (bind to port 0), and every wait is bounded.
#include "platform/linux/winsock2.h"
#include "platform/extensions.h"
#include "platform/linux/posix_socket.h"
#include "tests/support/raw_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int messageSize = 100;
// How long a call woken by closesocket may take to return.
constexpr auto wakeLimit = 2s;
// How long a helper thread's call is given to show that it blocks.
constexpr auto blockProof = 100ms;
// Set on sockets that helper threads block on: a call that closesocket
// fails to wake still ends, so a broken test fails instead of hanging.
constexpr DWORD safetyTimeoutMs = 5000;

// Owns a handle and closes it, unless the test has closed it already.
class Socket {
public:
    Socket() = default;
    explicit Socket(SOCKET s) : s_(s) {}
    ~Socket() { close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}

    SOCKET get() const { return s_; }
    void reset(SOCKET s)
    {
        close();
        s_ = s;
    }
    int close()
    {
        const SOCKET s = std::exchange(s_, INVALID_SOCKET);
        return s == INVALID_SOCKET ? 0 : closesocket(s);
    }

private:
    SOCKET s_ = INVALID_SOCKET;
};

struct Address {
    sockaddr_storage storage{};
    int length = sizeof storage;

    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

// What a call on a helper thread returned, with that thread's last error
// and the time the call took.
template <typename Result>
struct Outcome {
    Result result;
    int error;
    Clock::duration elapsed;
};

// Runs call on a thread of its own.
template <typename Call>
auto RunAsync(Call call)
{
    return std::async(std::launch::async, [call]() mutable {
        const auto start = Clock::now();
        auto result = call();
        const int error = WSAGetLastError();
        return Outcome<decltype(result)>{result, error, Clock::now() - start};
    });
}

// Waits for a helper thread's call. A call still running after limit
// fails the test, and closing its socket then ends it.
template <typename Result>
void Finish(std::future<Outcome<Result>>& call, Socket& socket, Outcome<Result>* outcome,
            Clock::duration limit = wakeLimit)
{
    if (call.wait_for(limit) != std::future_status::ready) {
        socket.close();
        FAIL() << "the call did not end in time";
    }
    *outcome = call.get();
}

const char* LoopbackOf(int family) { return family == AF_INET6 ? "::1" : "127.0.0.1"; }

// Resolves the loopback address of family with port, through the stand-in.
void Resolve(int family, const std::string& port, int flags, Address* address)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | flags;
    addrinfo* list = nullptr;
    ASSERT_EQ(getaddrinfo(LoopbackOf(family), port.c_str(), &hints, &list), 0);
    std::memcpy(&address->storage, list->ai_addr, list->ai_addrlen);
    address->length = static_cast<int>(list->ai_addrlen);
    freeaddrinfo(list);
}

int PortOf(const Address& address)
{
    const auto* storage = &address.storage;
    if (storage->ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(storage)->sin_port);
}

void BoundPort(SOCKET s, std::string* port)
{
    Address address;
    ASSERT_EQ(getsockname(s, address.get(), &address.length), 0) << WSAGetLastError();
    *port = std::to_string(PortOf(address));
    ASSERT_NE(*port, "0");
}

// A socket listening on a loopback port of the system's choosing.
void Listen(int family, Socket* listener, std::string* port)
{
    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(family, "0", AI_PASSIVE, &address));
    listener->reset(socket(family, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_NE(listener->get(), INVALID_SOCKET) << WSAGetLastError();
    ASSERT_EQ(bind(listener->get(), address.get(), address.length), 0) << WSAGetLastError();
    ASSERT_EQ(listen(listener->get(), SOMAXCONN), 0) << WSAGetLastError();
    ASSERT_NO_FATAL_FAILURE(BoundPort(listener->get(), port));
}

// A client of the system's own, connected to the IPv4 loopback port.
raw::Fd RawClient(const std::string& port)
{
    return raw::Fd(raw::Connect(raw::Family::V4, std::stoi(port), static_cast<int>(safetyTimeoutMs)));
}

// A client connected to the server side that its listener accepted.
struct Connection {
    Socket listener;
    Socket client;
    Socket server;
    std::string port;
    Address serverAddress;
    Address peerAddress;  // the client, as accept saw it
};

void Connect(int family, Connection* connection)
{
    ASSERT_NO_FATAL_FAILURE(Listen(family, &connection->listener, &connection->port));
    ASSERT_NO_FATAL_FAILURE(Resolve(family, connection->port, 0, &connection->serverAddress));
    connection->client.reset(socket(family, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_NE(connection->client.get(), INVALID_SOCKET) << WSAGetLastError();
    ASSERT_EQ(connect(connection->client.get(), connection->serverAddress.get(),
                      connection->serverAddress.length),
              0)
        << WSAGetLastError();
    Address& peer = connection->peerAddress;
    connection->server.reset(accept(connection->listener.get(), peer.get(), &peer.length));
    ASSERT_NE(connection->server.get(), INVALID_SOCKET) << WSAGetLastError();
}

int SetTimeout(SOCKET s, int option, DWORD milliseconds)
{
    return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                      sizeof milliseconds);
}

// Receives exactly count bytes; fewer if the peer leaves or a call fails.
int ReceiveAll(SOCKET s, char* buffer, int count)
{
    int total = 0;
    for (int call = 0; call < count && total < count; ++call) {
        const int received = recvfrom(s, buffer + total, count - total, 0, nullptr, nullptr);
        if (received <= 0)
            return received < 0 ? received : total;
        total += received;
    }
    return total;
}

std::vector<char> Message(int index)
{
    std::vector<char> message(messageSize);
    for (int i = 0; i < messageSize; ++i)
        message[i] = static_cast<char>('a' + (index + i) % 26);
    return message;
}

// The echo server's side: echoes whatever arrives, sending it to the peer
// address that accept reported, until the client stops sending. Returns
// the bytes echoed, or SOCKET_ERROR.
int EchoAll(SOCKET listener)
{
    Address peer;
    Socket server(accept(listener, peer.get(), &peer.length));
    if (server.get() == INVALID_SOCKET || SetTimeout(server.get(), SO_RCVTIMEO, safetyTimeoutMs))
        return SOCKET_ERROR;
    int echoed = 0;
    char buffer[messageSize];
    for (int call = 0; call < 1000; ++call) {
        const int received = recvfrom(server.get(), buffer, messageSize, 0, nullptr, nullptr);
        if (received <= 0)
            return received == 0 ? echoed : SOCKET_ERROR;
        if (sendto(server.get(), buffer, received, 0, peer.get(), peer.length) != received)
            return SOCKET_ERROR;
        echoed += received;
    }
    return SOCKET_ERROR;
}

// Whether a loopback IPv4 connection with this local port is in TIME_WAIT.
bool InTimeWait(int port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column titles
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const auto colon = local.find(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port &&
            state == "06")
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------

class SocketEcho : public ::testing::TestWithParam<int> {};

TEST_P(SocketEcho, MessagesComeBackWhole)
{
    const int family = GetParam();
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(family, &listener, &port));
    const SOCKET listening = listener.get();
    auto server = RunAsync([listening] { return EchoAll(listening); });

    Address serverAddress;
    ASSERT_NO_FATAL_FAILURE(Resolve(family, port, 0, &serverAddress));
    Socket client(socket(family, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_NE(client.get(), INVALID_SOCKET);
    ASSERT_EQ(SetTimeout(client.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    ASSERT_EQ(connect(client.get(), serverAddress.get(), serverAddress.length), 0)
        << WSAGetLastError();

    Address peer;
    ASSERT_EQ(getpeername(client.get(), peer.get(), &peer.length), 0);
    EXPECT_EQ(peer.storage.ss_family, family);
    EXPECT_EQ(std::to_string(PortOf(peer)), port);

    for (int index = 0; index < 3; ++index) {
        const std::vector<char> message = Message(index);
        // The client passes the server's address along, as the program does.
        ASSERT_EQ(sendto(client.get(), message.data(), messageSize, 0, serverAddress.get(),
                         serverAddress.length),
                  messageSize)
            << WSAGetLastError();
        std::vector<char> echo(messageSize);
        ASSERT_EQ(ReceiveAll(client.get(), echo.data(), messageSize), messageSize)
            << WSAGetLastError();
        EXPECT_EQ(echo, message);
    }

    // Shutting down the sending side is the peer leaving, not an error.
    ASSERT_EQ(shutdown(client.get(), SD_SEND), 0);
    ASSERT_EQ(server.wait_for(wakeLimit), std::future_status::ready);
    const auto echoed = server.get();
    EXPECT_EQ(echoed.result, 3 * messageSize) << echoed.error;
    char rest;
    Address from;
    EXPECT_EQ(recvfrom(client.get(), &rest, 1, 0, from.get(), &from.length), 0);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SocketEcho, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET6 ? "IPv6" : "IPv4"; });

TEST(SocketAccept, ReportsThePeerAddress)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET6, &connection));
    Address client;
    ASSERT_EQ(getsockname(connection.client.get(), client.get(), &client.length), 0);
    ASSERT_EQ(connection.peerAddress.length, client.length);
    EXPECT_EQ(std::memcmp(&connection.peerAddress.storage, &client.storage, client.length), 0);
}

// ---------------------------------------------------------------------------

// Closes socket while call waits on it in another thread: the call must
// have been waiting, and must then end at once, failing with EBADF.
template <typename Result>
void ExpectCloseWakes(Socket& socket, std::future<Outcome<Result>>& call, std::type_identity_t<Result> failed)
{
    ASSERT_EQ(call.wait_for(blockProof), std::future_status::timeout);
    ASSERT_EQ(socket.close(), 0);
    ASSERT_EQ(call.wait_for(wakeLimit), std::future_status::ready);
    const auto outcome = call.get();
    EXPECT_EQ(outcome.result, failed);
    EXPECT_EQ(outcome.error, EBADF);
}

TEST(SocketClose, WakesAcceptBlockedInAnotherThread)
{
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    ASSERT_EQ(SetTimeout(listener.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    const SOCKET handle = listener.get();
    auto accepted = RunAsync([handle] { return accept(handle, nullptr, nullptr); });
    ExpectCloseWakes(listener, accepted, INVALID_SOCKET);
}

// Without a time-out, accept waits in the system rather than in poll; the
// close must end that wait too. Should it not, a connection ends it, so
// that the test fails rather than hangs.
TEST(SocketClose, WakesAcceptThatWaitsWithoutEnd)
{
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    const SOCKET handle = listener.get();
    auto accepted = RunAsync([handle] { return accept(handle, nullptr, nullptr); });
    ASSERT_EQ(accepted.wait_for(blockProof), std::future_status::timeout);
    ASSERT_EQ(listener.close(), 0);
    if (accepted.wait_for(wakeLimit) != std::future_status::ready) {
        raw::Fd rescue = RawClient(port);
        accepted.wait();
        FAIL() << "closesocket did not end the accept";
    }
    const auto outcome = accepted.get();
    EXPECT_EQ(outcome.result, INVALID_SOCKET);
    EXPECT_EQ(outcome.error, EBADF);
}

TEST(SocketClose, WakesReceiveBlockedInAnotherThread)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    const SOCKET handle = connection.client.get();
    auto received = RunAsync([handle] {
        char byte;
        return recvfrom(handle, &byte, 1, 0, nullptr, nullptr);
    });
    ExpectCloseWakes(connection.client, received, SOCKET_ERROR);
}

TEST(SocketClose, WakesSendBlockedInAnotherThread)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_SNDTIMEO, safetyTimeoutMs), 0);
    const SOCKET handle = connection.client.get();
    // More than the socket buffers hold, while the server reads nothing.
    auto sent = RunAsync([handle] {
        std::vector<char> bulk(64 << 20);
        return sendto(handle, bulk.data(), static_cast<int>(bulk.size()), 0, nullptr, 0);
    });
    ExpectCloseWakes(connection.client, sent, SOCKET_ERROR);
}

// A listener with a backlog of 0, and the one connection that fills its
// queue: the system drops the next one's handshake, so a connect waits.
struct FullListener {
    Socket listener;
    Socket queued;
    Address address;  // where it listens
};

void MakeFullListener(FullListener* full)
{
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, "0", AI_PASSIVE, &full->address));
    full->listener.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(bind(full->listener.get(), full->address.get(), full->address.length), 0);
    ASSERT_EQ(listen(full->listener.get(), 0), 0);
    std::string port;
    ASSERT_NO_FATAL_FAILURE(BoundPort(full->listener.get(), &port));
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, port, 0, &full->address));
    full->queued.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(connect(full->queued.get(), full->address.get(), full->address.length), 0);
}

TEST(SocketClose, WakesConnectBlockedInAnotherThread)
{
    FullListener full;
    ASSERT_NO_FATAL_FAILURE(MakeFullListener(&full));
    Address address = full.address;
    Socket waiting(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(SetTimeout(waiting.get(), SO_SNDTIMEO, safetyTimeoutMs), 0);
    const SOCKET handle = waiting.get();
    auto connected = RunAsync(
        [handle, address]() mutable { return connect(handle, address.get(), address.length); });
    ExpectCloseWakes(waiting, connected, SOCKET_ERROR);
}

// How many TCP connections the calling thread's network has begun, by
// the system's count (ActiveOpens); -1 when it does not say.
long ActiveOpens()
{
    std::ifstream counters("/proc/thread-self/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(counters, names) && std::getline(counters, values)) {
        std::istringstream name(names);
        std::istringstream value(values);
        std::string field;
        std::string count;
        while (names.starts_with("Tcp:") && name >> field && value >> count)
            if (field == "ActiveOpens")
                return std::stol(count);
    }
    return -1;
}

// Moves the calling thread, and the threads it starts, into a network of
// their own, its loopback up; false when the system does not allow it.
bool EnterPrivateNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = posix::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    std::strcpy(loopback.ifr_name, "lo");
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
    loopback.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
    posix::close(fd);
    return up;
}

// A connect that closesocket ends makes no new attempt: the close shuts
// the socket down, and a connect on it then would send a new handshake.
// Counted in a network of the test's own, where nothing else connects.
TEST(SocketClose, EndsAConnectWithoutAnotherAttempt)
{
    bool privateNetwork = false;
    long begun = -1;
    std::thread network([&] {
        privateNetwork = EnterPrivateNetwork();
        if (!privateNetwork)
            return;
        FullListener full;
        ASSERT_NO_FATAL_FAILURE(MakeFullListener(&full));
        const long before = ActiveOpens();
        Socket waiting(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_EQ(SetTimeout(waiting.get(), SO_SNDTIMEO, safetyTimeoutMs), 0);
        Address address = full.address;
        const SOCKET handle = waiting.get();
        auto connected = RunAsync(
            [handle, address]() mutable { return connect(handle, address.get(), address.length); });
        ExpectCloseWakes(waiting, connected, SOCKET_ERROR);
        begun = ActiveOpens() - before;
    });
    network.join();
    if (!privateNetwork)
        GTEST_SKIP() << "no network of its own for this test (it needs CAP_SYS_ADMIN)";
    EXPECT_EQ(begun, 1);
}

TEST(SocketClose, DescriptorsAreReleasedAfterManyCycles)
{
    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, "0", AI_PASSIVE, &address));
    const int before = raw::OpenDescriptors();
    std::set<SOCKET> handles;
    for (int cycle = 0; cycle < 200; ++cycle) {
        Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_NE(listener.get(), INVALID_SOCKET) << WSAGetLastError();
        EXPECT_TRUE(handles.insert(listener.get()).second) << "handle reused";
        ASSERT_EQ(bind(listener.get(), address.get(), address.length), 0);
        if (cycle % 10 != 0) {
            ASSERT_EQ(listener.close(), 0);
            continue;
        }
        // Every tenth socket is closed while another thread waits on it.
        ASSERT_EQ(listen(listener.get(), SOMAXCONN), 0);
        ASSERT_EQ(SetTimeout(listener.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
        const SOCKET handle = listener.get();
        auto accepted = RunAsync([handle] { return accept(handle, nullptr, nullptr); });
        ASSERT_EQ(accepted.wait_for(10ms), std::future_status::timeout);
        ASSERT_EQ(listener.close(), 0);
        ASSERT_EQ(accepted.wait_for(wakeLimit), std::future_status::ready);
        EXPECT_EQ(accepted.get().error, EBADF);
    }
    EXPECT_EQ(raw::OpenDescriptors(), before);
}

// ---------------------------------------------------------------------------

TEST(SocketHandles, ClosedHandleFailsEvenAfterNewSockets)
{
    const SOCKET old = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(old, INVALID_SOCKET);
    ASSERT_EQ(closesocket(old), 0);
    // The system hands out the old descriptor number again; the handle must
    // still not reach the new socket.
    std::vector<Socket> fresh;
    for (int i = 0; i < 8; ++i) {
        fresh.emplace_back(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        ASSERT_NE(fresh.back().get(), INVALID_SOCKET);
        EXPECT_NE(fresh.back().get(), old);
    }

    // accept goes first: none of the new sockets listens yet, so even if the
    // handle reached one, the call would fail rather than wait.
    EXPECT_EQ(accept(old, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), EBADF);
    EXPECT_EQ(listen(old, SOMAXCONN), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EBADF);
    EXPECT_EQ(sendto(old, "x", 1, 0, nullptr, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EBADF);
    EXPECT_EQ(closesocket(old), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EBADF);
}

TEST(SocketHandles, UnknownHandleIsNotASocket)
{
    const SOCKET newest = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(newest, INVALID_SOCKET);
    for (SOCKET unknown : {INVALID_SOCKET, SOCKET{0}, newest + 1, newest + 400}) {
        EXPECT_EQ(accept(unknown, nullptr, nullptr), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), ENOTSOCK) << unknown;
        EXPECT_EQ(closesocket(unknown), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), ENOTSOCK) << unknown;
    }
    EXPECT_EQ(closesocket(newest), 0);
}

// ---------------------------------------------------------------------------

void ExpectSigpipeIsFatal()
{
    struct sigaction action{};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
    // Otherwise a raised SIGPIPE would pass unnoticed.
    ASSERT_EQ(action.sa_handler, SIG_DFL);
}

// Sends until a send fails, a bounded number of times: the first sends to a
// peer that has left may still be taken, and answered with a reset.
int SendUntilFailure(SOCKET s)
{
    const std::vector<char> message = Message(0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (sendto(s, message.data(), messageSize, 0, nullptr, 0) == SOCKET_ERROR)
            return WSAGetLastError();
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

TEST(SocketSend, ToPeerThatClosedFailsWithoutSignal)
{
    ASSERT_NO_FATAL_FAILURE(ExpectSigpipeIsFatal());
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(connection.server.close(), 0);
    const int error = SendUntilFailure(connection.client.get());
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
}

TEST(SocketSend, ToPeerThatResetFailsWithoutSignal)
{
    ASSERT_NO_FATAL_FAILURE(ExpectSigpipeIsFatal());
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    // Lingering for no time makes the close a reset.
    const linger abort{1, 0};
    ASSERT_EQ(setsockopt(connection.server.get(), SOL_SOCKET, SO_LINGER,
                         reinterpret_cast<const char*>(&abort), sizeof abort),
              0);
    ASSERT_EQ(connection.server.close(), 0);
    const int error = SendUntilFailure(connection.client.get());
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
}

// Without blocking, a connect that has to wait goes on, says so as the
// platform does, and the wait tells once it is over: connected, or failed
// with the socket's error saying why.
TEST(SocketConnect, WithoutBlockingAnAttemptGoesOnUntilItsErrorSaysHowItWent)
{
    auto start = [](SOCKET s, Address& address) {
        u_long nonBlocking = 1;
        EXPECT_EQ(ioctlsocket(s, FIONBIO, &nonBlocking), 0);
        EXPECT_EQ(connect(s, address.get(), address.length), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    };
    auto outcome = [](SOCKET s, int expected) {
        int found = SOCKET_WAITING;
        EXPECT_EQ(WaitForSockets(&s, 1, WAIT_CONNECT, safetyTimeoutMs, &found), 1);
        EXPECT_EQ(found, expected);
        int error = -1;
        int size = sizeof error;
        EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size), 0);
        return error;
    };
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    Address live;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, port, 0, &live));
    Socket connecting(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    start(connecting.get(), live);
    EXPECT_EQ(outcome(connecting.get(), SOCKET_READY), 0);

    raw::Fd unanswered(raw::BindOnly(raw::Family::V4));
    Address refusing;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, std::to_string(raw::LocalPort(unanswered.get())), 0, &refusing));
    Socket refused(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    start(refused.get(), refusing);
    EXPECT_EQ(outcome(refused.get(), SOCKET_FAILED), ECONNREFUSED);

    // Dropped handshakes: the attempt is still under way when the wait ends.
    FullListener full;
    ASSERT_NO_FATAL_FAILURE(MakeFullListener(&full));
    Socket dropped(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    start(dropped.get(), full.address);
    EXPECT_EQ(connect(dropped.get(), full.address.get(), full.address.length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EALREADY);
    const SOCKET s = dropped.get();
    int found = SOCKET_READY;
    EXPECT_EQ(WaitForSockets(&s, 1, WAIT_CONNECT, 200, &found), 0);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_EQ(found, SOCKET_WAITING);
}

// Connects s as the client does: without blocking, then a wait until the
// attempt is over, whose failure SO_ERROR confirms or not; s blocks again
// afterwards. 0, or the error.
int ConnectWithoutBlocking(SOCKET s, Address& address)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return WSAGetLastError();
    int error = 0;
    if (connect(s, address.get(), address.length) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return WSAGetLastError();
        int found = SOCKET_WAITING;
        if (WaitForSockets(&s, 1, WAIT_CONNECT, safetyTimeoutMs, &found) != 1)
            return WSAGetLastError();
        int size = sizeof error;
        if (found == SOCKET_FAILED &&
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            return WSAGetLastError();
    }
    nonBlocking = 0;
    return ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ? WSAGetLastError() : error;
}

// A peer that accepts and resets at once was connected to, as a blocking
// connect on either system says, however soon its reset comes, and as the
// outcome of a connect without blocking says: the reset is the next
// receive's. Repeated, since it is a matter of timing.
TEST(SocketConnect, APeerThatResetsAtOnceWasConnectedTo)
{
    constexpr int ROUNDS = 1000;
    const int listener = raw::Listen(raw::Family::V4);
    ASSERT_GE(listener, 0);
    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, std::to_string(raw::LocalPort(listener)), 0, &address));
    std::thread server([&] {
        for (int i = 0; i < ROUNDS; ++i)
            raw::Reset(raw::Accept(listener, static_cast<int>(safetyTimeoutMs)));
    });
    int connected = 0;
    int resetSeen = 0;
    for (int i = 0; i < ROUNDS; ++i) {
        Socket client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (i % 2 == 0) {
            SetTimeout(client.get(), SO_SNDTIMEO, safetyTimeoutMs);
            connected += connect(client.get(), address.get(), address.length) == 0;
        } else {
            connected += ConnectWithoutBlocking(client.get(), address) == 0;
        }
        char byte;
        resetSeen += recvfrom(client.get(), &byte, 1, 0, nullptr, nullptr) == SOCKET_ERROR &&
                     WSAGetLastError() == WSAECONNRESET;
    }
    server.join();
    raw::Close(listener);
    EXPECT_EQ(connected, ROUNDS);
    EXPECT_EQ(resetSeen, ROUNDS);
}

TEST(SocketSend, ConnectedStreamIgnoresTheDestination)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.server.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    // Longer than any address: the system would refuse it, were it passed on.
    char elsewhere[sizeof(sockaddr_storage) + 1] = {};
    const std::vector<char> message = Message(1);
    EXPECT_EQ(sendto(connection.client.get(), message.data(), messageSize, 0,
                     reinterpret_cast<const sockaddr*>(elsewhere), sizeof elsewhere),
              messageSize)
        << WSAGetLastError();
    std::vector<char> received(messageSize);
    ASSERT_EQ(ReceiveAll(connection.server.get(), received.data(), messageSize), messageSize);
    EXPECT_EQ(received, message);
}

// A blocking send sends everything, however many times the socket buffers
// fill, while the peer reads.
TEST(SocketSend, ABlockingSendSendsAllWhileThePeerReads)
{
    constexpr int size = 16 << 20;
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_SNDTIMEO, safetyTimeoutMs), 0);
    ASSERT_EQ(SetTimeout(connection.server.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    const SOCKET server = connection.server.get();
    auto drained = RunAsync([server] {
        std::vector<char> buffer(size);
        return ReceiveAll(server, buffer.data(), size);
    });
    const std::vector<char> bulk(size, 'b');
    EXPECT_EQ(sendto(connection.client.get(), bulk.data(), size, 0, nullptr, 0), size) << WSAGetLastError();
    Outcome<int> outcome{};
    ASSERT_NO_FATAL_FAILURE(Finish(drained, connection.server, &outcome));
    EXPECT_EQ(outcome.result, size) << outcome.error;
}

// One whose peer reads nothing sends what fits before its time-out runs
// out, and says how much that was.
TEST(SocketSend, ABlockingSendThatRunsOutCountsWhatWent)
{
    constexpr int size = 64 << 20;
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_SNDTIMEO, 200), 0);
    const std::vector<char> bulk(size, 'b');
    const auto start = Clock::now();
    const int sent = sendto(connection.client.get(), bulk.data(), size, 0, nullptr, 0);
    EXPECT_GE(Clock::now() - start, 200ms);
    ASSERT_GT(sent, 0) << WSAGetLastError();
    ASSERT_LT(sent, size);
    ASSERT_EQ(SetTimeout(connection.server.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    std::vector<char> buffer(sent);
    EXPECT_EQ(ReceiveAll(connection.server.get(), buffer.data(), sent), sent);
    // And not a byte more.
    ASSERT_EQ(shutdown(connection.client.get(), SD_SEND), 0);
    char extra;
    EXPECT_EQ(recvfrom(connection.server.get(), &extra, 1, 0, nullptr, nullptr), 0);
}

// ---------------------------------------------------------------------------

TEST(SocketTimeout, ReceiveRunsOutAfterTheMilliseconds)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, 300), 0);
    const SOCKET handle = connection.client.get();
    auto received = RunAsync([handle] {
        char byte;
        return recvfrom(handle, &byte, 1, 0, nullptr, nullptr);
    });
    Outcome<int> outcome{};
    ASSERT_NO_FATAL_FAILURE(Finish(received, connection.client, &outcome));
    EXPECT_EQ(outcome.result, SOCKET_ERROR);
    EXPECT_EQ(outcome.error, ETIMEDOUT);
    EXPECT_GE(outcome.elapsed, 250ms);
}

// A long wait ends at its deadline, not when the system's timer wheel next
// looks: that rounds a socket time-out of a few seconds up by as much as
// a tenth of it (to a multiple of 256 ms for 2.5 s, at 250 Hz). Of eight
// waits started 40 ms apart, across all of that, one would end 200 ms late.
TEST(SocketTimeout, ALongWaitEndsAtItsDeadline)
{
    constexpr auto timeout = 2500ms;
    constexpr auto lateness = 60ms;
    std::array<Connection, 8> connections;
    for (Connection& connection : connections) {
        ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
        ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, static_cast<DWORD>(timeout.count())), 0);
    }
    std::vector<std::future<Outcome<int>>> waits;
    for (Connection& connection : connections) {
        const SOCKET handle = connection.client.get();
        waits.push_back(RunAsync([handle] {
            char byte;
            return recvfrom(handle, &byte, 1, 0, nullptr, nullptr);
        }));
        std::this_thread::sleep_for(40ms);
    }
    for (size_t i = 0; i < waits.size(); ++i) {
        SCOPED_TRACE(i);
        Outcome<int> outcome{};
        ASSERT_NO_FATAL_FAILURE(Finish(waits[i], connections[i].client, &outcome, timeout + wakeLimit));
        EXPECT_EQ(outcome.result, SOCKET_ERROR);
        EXPECT_EQ(outcome.error, ETIMEDOUT);
        EXPECT_GE(outcome.elapsed, timeout);
        EXPECT_LE(outcome.elapsed, timeout + lateness);
    }
}

// A signal handled on the waiting thread does not end its wait, though
// the system cuts a wait with a time-out short at every such signal.
TEST(SocketTimeout, ASignalDoesNotEndTheWait)
{
    struct sigaction quiet = {};
    quiet.sa_handler = [](int) {};
    struct sigaction previous = {};
    ASSERT_EQ(sigaction(SIGUSR1, &quiet, &previous), 0);
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, 5000), 0);
    const SOCKET handle = connection.client.get();
    std::atomic<int> result{0};
    std::atomic<int> error{0};
    std::thread waiter([&] {
        char byte;
        result = recvfrom(handle, &byte, 1, 0, nullptr, nullptr);
        error = WSAGetLastError();
    });
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
        pthread_kill(waiter.native_handle(), SIGUSR1);
    }
    const char byte = 'x';
    EXPECT_EQ(sendto(connection.server.get(), &byte, 1, 0, nullptr, 0), 1);
    waiter.join();
    EXPECT_EQ(result.load(), 1) << error.load();

    // Nor an accept that waits without end, in the system.
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    std::atomic<SOCKET> acceptedHandle{INVALID_SOCKET};
    std::thread acceptor([&] {
        acceptedHandle = accept(listener.get(), nullptr, nullptr);
        error = WSAGetLastError();
    });
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
        pthread_kill(acceptor.native_handle(), SIGUSR1);
    }
    raw::Fd client = RawClient(port);
    acceptor.join();
    EXPECT_NE(acceptedHandle.load(), INVALID_SOCKET) << error.load();
    Socket served(acceptedHandle.load());

    // Nor does it end a connect that waits for room in a full queue.
    FullListener full;
    ASSERT_NO_FATAL_FAILURE(MakeFullListener(&full));
    Socket connecting(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(SetTimeout(connecting.get(), SO_SNDTIMEO, safetyTimeoutMs), 0);
    std::thread connector([&] {
        result = connect(connecting.get(), full.address.get(), full.address.length);
        error = WSAGetLastError();
    });
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
        pthread_kill(connector.native_handle(), SIGUSR1);
    }
    // Room in the queue: the next try of the handshake gets through.
    Socket accepted(accept(full.listener.get(), nullptr, nullptr));
    connector.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result.load(), 0) << error.load();
}

// Nor does it lengthen the wait, with SA_RESTART or without: a signal
// every 50 ms would keep a wait that each one started afresh going for as
// long as they came.
TEST(SocketTimeout, AnInterruptedWaitKeepsItsDeadline)
{
    static std::atomic<int> caught{0};
    for (int flags : {0, SA_RESTART}) {
        SCOPED_TRACE(flags);
        struct sigaction counting = {};
        counting.sa_handler = [](int) { caught.fetch_add(1); };
        counting.sa_flags = flags;
        struct sigaction previous = {};
        ASSERT_EQ(sigaction(SIGUSR1, &counting, &previous), 0);
        caught.store(0);
        Connection connection;
        ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
        ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, 300), 0);
        const SOCKET handle = connection.client.get();
        // The wait, on a thread of its own that the signals go to.
        auto receive = [handle] {
            const auto start = Clock::now();
            char byte;
            const int result = recvfrom(handle, &byte, 1, 0, nullptr, nullptr);
            return Outcome<int>{result, WSAGetLastError(), Clock::now() - start};
        };
        for (bool signalled : {true, false}) {
            std::packaged_task<Outcome<int>()> task(receive);
            std::future<Outcome<int>> wait = task.get_future();
            std::thread waiter(std::move(task));
            for (int i = 0; signalled && i < 40 && wait.wait_for(50ms) != std::future_status::ready; ++i)
                pthread_kill(waiter.native_handle(), SIGUSR1);
            waiter.join();
            const Outcome<int> outcome = wait.get();
            EXPECT_EQ(outcome.result, SOCKET_ERROR) << signalled;
            EXPECT_EQ(outcome.error, ETIMEDOUT) << signalled;
            EXPECT_GE(outcome.elapsed, 250ms) << signalled;
            EXPECT_LT(outcome.elapsed, 1200ms) << signalled;
        }
        // The signals came; the wait without them shows that they left the
        // socket's time-out whole.
        EXPECT_GE(caught.load(), 3);
        sigaction(SIGUSR1, &previous, nullptr);
    }
}

// What a receive in a copy of this process returned, and what it took.
struct ChildOutcome {
    int result;
    int error;
    long long elapsedMs;
};

// Receives one byte on s in a copy of this process, which is stopped for
// stopLength from 100 ms into the wait, then continued. The copy calls only
// the stand-in, which takes no lock that another thread could hold here.
void ReceiveInStoppedChild(SOCKET s, std::chrono::milliseconds stopLength, ChildOutcome* outcome)
{
    int report[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const auto start = Clock::now();
        char byte;
        ChildOutcome result{recvfrom(s, &byte, 1, 0, nullptr, nullptr), WSAGetLastError(), 0};
        result.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        _exit(write(report[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    close(report[1]);
    std::this_thread::sleep_for(100ms);
    kill(child, SIGSTOP);
    std::this_thread::sleep_for(stopLength);
    kill(child, SIGCONT);
    int status = 0;
    const bool ended = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool read = ::read(report[0], outcome, sizeof *outcome) == sizeof *outcome;
    close(report[0]);
    ASSERT_TRUE(ended && read) << "the copy ended with status " << status;
}

// A stop of the process neither ends a wait nor moves its deadline: a
// wait that runs out while the process is stopped ends as soon as it goes
// on, rather than waiting what was left when it stopped.
TEST(SocketTimeout, AStopOfTheProcessDoesNotMoveTheDeadline)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, 1000), 0);
    ChildOutcome outcome{};
    ASSERT_NO_FATAL_FAILURE(ReceiveInStoppedChild(connection.client.get(), 1500ms, &outcome));
    EXPECT_EQ(outcome.result, SOCKET_ERROR);
    EXPECT_EQ(outcome.error, ETIMEDOUT);
    // Continued 1.6 s into a wait of 1 s; another 0.9 s if the stop moved the deadline.
    EXPECT_GE(outcome.elapsedMs, 1500);
    EXPECT_LT(outcome.elapsedMs, 2000);
}

TEST(SocketTimeout, SendRunsOutWhenThePeerReadsNothing)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_SNDTIMEO, 200), 0);
    const SOCKET handle = connection.client.get();
    // The socket buffers fill; a send that finds them full waits, and sends
    // part or runs out; the one after a partial send runs out.
    auto sent = RunAsync([handle] {
        std::vector<char> bulk(1 << 20);
        int result = 0;
        for (int call = 0; call < 64 && result != SOCKET_ERROR; ++call)
            result = sendto(handle, bulk.data(), static_cast<int>(bulk.size()), 0, nullptr, 0);
        return result;
    });
    Outcome<int> outcome{};
    ASSERT_NO_FATAL_FAILURE(Finish(sent, connection.client, &outcome));
    EXPECT_EQ(outcome.result, SOCKET_ERROR);
    EXPECT_EQ(outcome.error, ETIMEDOUT);
}

// As on the platform: an accept waits whatever the receive time-out says,
// and the socket it gives takes its listener's time-outs, which bound its
// own waits.
TEST(SocketTimeout, AnAcceptedSocketTakesItsListenersTimeOuts)
{
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    ASSERT_EQ(SetTimeout(listener.get(), SO_RCVTIMEO, 100), 0);
    ASSERT_EQ(SetTimeout(listener.get(), SO_SNDTIMEO, 200), 0);
    const SOCKET handle = listener.get();
    auto accepted = RunAsync([handle] { return accept(handle, nullptr, nullptr); });
    ASSERT_EQ(accepted.wait_for(300ms), std::future_status::timeout);
    raw::Fd client = RawClient(port);
    Outcome<SOCKET> outcome{};
    ASSERT_NO_FATAL_FAILURE(Finish(accepted, listener, &outcome));
    Socket served(outcome.result);
    ASSERT_NE(served.get(), INVALID_SOCKET) << outcome.error;
    for (const auto& [option, milliseconds] : {std::pair{SO_RCVTIMEO, 100u}, std::pair{SO_SNDTIMEO, 200u}}) {
        DWORD value = 0;
        int size = sizeof value;
        ASSERT_EQ(getsockopt(served.get(), SOL_SOCKET, option, reinterpret_cast<char*>(&value), &size), 0);
        EXPECT_EQ(value, milliseconds);
    }
    const auto start = Clock::now();
    char byte;
    EXPECT_EQ(recvfrom(served.get(), &byte, 1, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), ETIMEDOUT);
    EXPECT_GE(Clock::now() - start, 100ms);
}

TEST(SocketTimeout, CallsThatMustNotWaitSayWouldBlock)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    char byte;
    EXPECT_EQ(recvfrom(connection.client.get(), &byte, 1, MSG_DONTWAIT, nullptr, nullptr),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EAGAIN);

    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, "0", AI_PASSIVE, &address));
    Socket listener(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP));
    ASSERT_EQ(bind(listener.get(), address.get(), address.length), 0);
    ASSERT_EQ(listen(listener.get(), SOMAXCONN), 0);
    EXPECT_EQ(accept(listener.get(), nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), EAGAIN);
}

// A time-out reads back as set, and takes a whole DWORD.
TEST(SocketTimeout, OptionReadsBackAsSetAndNeedsAWholeDword)
{
    Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(SetTimeout(s.get(), SO_RCVTIMEO, 2500), 0);
    for (const auto& [option, expected] : {std::pair{SO_RCVTIMEO, 2500u}, std::pair{SO_SNDTIMEO, 0u}}) {
        SCOPED_TRACE(option);
        DWORD milliseconds = 1;
        int length = sizeof milliseconds;
        ASSERT_EQ(getsockopt(s.get(), SOL_SOCKET, option, reinterpret_cast<char*>(&milliseconds), &length),
                  0);
        EXPECT_EQ(milliseconds, expected);
        EXPECT_EQ(length, static_cast<int>(sizeof milliseconds));
    }
    const WORD tooShort = 100;
    EXPECT_EQ(setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tooShort),
                         sizeof tooShort),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, nullptr, sizeof(DWORD)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EFAULT);
}

// ---------------------------------------------------------------------------

TEST(SocketLastError, BelongsToEachThread)
{
    ASSERT_EQ(listen(INVALID_SOCKET, SOMAXCONN), SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), ENOTSOCK);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOTSOCK));

    auto other = std::async(std::launch::async, [] {
        const int before = WSAGetLastError();
        Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sendto(s.get(), "x", -1, 0, nullptr, 0);
        return std::make_pair(before, WSAGetLastError());
    });
    ASSERT_EQ(other.wait_for(wakeLimit), std::future_status::ready);
    const auto [before, after] = other.get();
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, EINVAL);
    EXPECT_EQ(WSAGetLastError(), ENOTSOCK);
}

TEST(SocketArguments, NegativeLengthsAreInvalid)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    const SOCKET s = connection.client.get();
    char buffer[4];
    Address address;

    EXPECT_EQ(bind(s, address.get(), -1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(connect(s, address.get(), -1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(sendto(s, buffer, -1, 0, nullptr, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(recvfrom(s, buffer, -1, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, buffer, -1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    int negative = -1;
    EXPECT_EQ(getpeername(s, address.get(), &negative), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
    EXPECT_EQ(accept(connection.listener.get(), address.get(), &negative), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), EINVAL);
}

TEST(SocketArguments, AnAddressNeedsItsLength)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    Address address;
    char byte;
    EXPECT_EQ(recvfrom(connection.client.get(), &byte, 1, MSG_DONTWAIT, address.get(), nullptr),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EFAULT);
    EXPECT_EQ(getsockname(connection.client.get(), address.get(), nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EFAULT);
}

// ---------------------------------------------------------------------------

TEST(SocketResolve, NumericHostRefusesAName)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    const int code = getaddrinfo("echo-server.invalid", "80", &hints, &list);
    EXPECT_EQ(code, EAI_NONAME);
    EXPECT_EQ(WSAGetLastError(), code);
}

TEST(SocketResolve, NoNodeAndNoServiceIsNoName)
{
    addrinfo* list = nullptr;
    const int code = getaddrinfo(nullptr, nullptr, nullptr, &list);
    EXPECT_EQ(code, EAI_NONAME);
    EXPECT_EQ(WSAGetLastError(), code);
}

TEST(SocketResolve, NoPlaceForTheResultIsASystemError)
{
    const int code = getaddrinfo("127.0.0.1", "7", nullptr, nullptr);
    EXPECT_EQ(code, EAI_SYSTEM);
    EXPECT_EQ(WSAGetLastError(), code);
}

TEST(SocketResolve, NamesANumericAddress)
{
    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, "7", 0, &address));
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    ASSERT_EQ(getnameinfo(address.get(), address.length, host, sizeof host, service,
                          sizeof service, NI_NUMERICHOST | NI_NUMERICSERV),
              0);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_STREQ(service, "7");

    char tooSmall[4];
    const int code = getnameinfo(address.get(), address.length, tooSmall, sizeof tooSmall, nullptr,
                                 0, NI_NUMERICHOST);
    EXPECT_EQ(code, EAI_OVERFLOW);
    EXPECT_EQ(WSAGetLastError(), code);
}

// ---------------------------------------------------------------------------

TEST(SocketBind, PortOfAListenerIsInUse)
{
    Socket listener;
    std::string port;
    ASSERT_NO_FATAL_FAILURE(Listen(AF_INET, &listener, &port));
    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, port, AI_PASSIVE, &address));
    Socket second(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(bind(second.get(), address.get(), address.length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), EADDRINUSE);
}

TEST(SocketBind, PortBindsAgainWhileAConnectionLingers)
{
    Connection connection;
    ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
    ASSERT_EQ(SetTimeout(connection.client.get(), SO_RCVTIMEO, safetyTimeoutMs), 0);
    // The server closes first, so its end of the connection lingers.
    ASSERT_EQ(connection.server.close(), 0);
    char byte;
    ASSERT_EQ(recvfrom(connection.client.get(), &byte, 1, 0, nullptr, nullptr), 0);
    ASSERT_EQ(connection.client.close(), 0);
    const int port = std::stoi(connection.port);
    bool lingering = false;
    for (int poll = 0; poll < 200 && !lingering; ++poll) {
        lingering = InTimeWait(port);
        if (!lingering)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(lingering) << "no connection in TIME_WAIT on port " << port;
    ASSERT_EQ(connection.listener.close(), 0);

    Address address;
    ASSERT_NO_FATAL_FAILURE(Resolve(AF_INET, connection.port, AI_PASSIVE, &address));
    Socket restarted(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(bind(restarted.get(), address.get(), address.length), 0) << WSAGetLastError();
    EXPECT_EQ(listen(restarted.get(), SOMAXCONN), 0) << WSAGetLastError();
}

// ---------------------------------------------------------------------------

// What the program relies on from starting the socket layer: the version it
// asks for, then sockets that carry its bytes, and a cleanup for each start;
// a cleanup beyond them fails, as does a start with nowhere to report to.
TEST(SocketStartup, GrantsTheVersionAndPairsEachStartWithACleanup)
{
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    {
        Connection connection;
        ASSERT_NO_FATAL_FAILURE(Connect(AF_INET, &connection));
        EXPECT_EQ(sendto(connection.client.get(), "q", 1, 0, nullptr, 0), 1) << WSAGetLastError();
        char received = 0;
        EXPECT_EQ(ReceiveAll(connection.server.get(), &received, 1), 1);
        EXPECT_EQ(received, 'q');
    }
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), EFAULT);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

}  // namespace
