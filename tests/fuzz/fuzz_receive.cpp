// Fuzzes ReceiveMessage over a real loopback TCP connection. The input's
// first byte gives the number of pieces (low 4 bits) and whether to ask for
// the sender's address (high bit), the next bytes each piece's length, and
// the rest is the stream, whose remainder goes as one last piece. A thread
// receives while the pieces go out one at a time, with a short pause before
// each so that they mostly arrive apart. The outcome must be complete with
// the stream's first 100 bytes when it had that many, else incomplete with
// all of it and NULs after; never an error.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/fuzz/text_model.h"
#include "transport/deadline.h"
#include "transport/echo_message.h"

// After winsock2.h, which hides the system's socket calls from the program.
#include <netinet/tcp.h>

namespace {

using model::Require;

constexpr std::chrono::microseconds pauseBeforePiece{100};
// Bounds every wait of the exchange: for the connection, for room to send,
// and for bytes that never come.
constexpr DWORD socketTimeoutMs = 1000;

struct Plan {
    std::vector<size_t> pieces;
    std::string_view stream;
    bool askAddress = false;
};

Plan PlanFrom(const uint8_t* bytes, size_t size)
{
    Plan plan;
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);
    if (input.empty())
        return plan;
    const auto head = static_cast<unsigned char>(input[0]);
    plan.askAddress = (head & 0x80) != 0;
    const size_t count = std::min<size_t>(head & 0x0F, input.size() - 1);
    for (size_t i = 1; i <= count; ++i)
        plan.pieces.push_back(static_cast<unsigned char>(input[i]));
    plan.stream = input.substr(count + 1);
    return plan;
}

// A socket call that fails tells which and why before the run ends.
void RequireCall(bool succeeded, const char* call)
{
    if (!succeeded)
        std::fprintf(stderr, "%s failed with error %d\n", call, WSAGetLastError());
    Require(succeeded);
}

sockaddr* AsAddress(sockaddr_in& address) { return reinterpret_cast<sockaddr*>(&address); }

void SetOption(SOCKET s, int level, int option, const void* value, int length)
{
    RequireCall(setsockopt(s, level, option, static_cast<const char*>(value), length) == 0,
                "setsockopt");
}

struct Listener {
    SOCKET socket;
    sockaddr_in address;
};

Listener OpenListener()
{
    Listener listener{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), {}};
    RequireCall(listener.socket != INVALID_SOCKET, "socket");
    listener.address.sin_family = AF_INET;
    listener.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof listener.address;
    RequireCall(bind(listener.socket, AsAddress(listener.address), length) == 0, "bind");
    RequireCall(listen(listener.socket, 4) == 0, "listen");
    RequireCall(getsockname(listener.socket, AsAddress(listener.address), &length) == 0,
                "getsockname");
    return listener;
}

// One listener for the whole run, on a port the system picks.
Listener& LoopbackListener()
{
    static Listener listener = OpenListener();
    return listener;
}

struct Connection {
    SOCKET sender;
    SOCKET receiver;
};

// Every piece leaves in a segment of its own. The sender resets the
// connection when closed, so that the many short connections leave no
// TIME_WAIT entries holding ports.
Connection Connect()
{
    Listener& listener = LoopbackListener();
    Connection connection{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET};
    RequireCall(connection.sender != INVALID_SOCKET, "socket");
    SetOption(connection.sender, SOL_SOCKET, SO_SNDTIMEO, &socketTimeoutMs, sizeof socketTimeoutMs);
    RequireCall(
        connect(connection.sender, AsAddress(listener.address), sizeof listener.address) == 0,
        "connect");
    connection.receiver = accept(listener.socket, nullptr, nullptr);
    RequireCall(connection.receiver != INVALID_SOCKET, "accept");
    const int on = 1;
    SetOption(connection.sender, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const linger reset{1, 0};
    SetOption(connection.sender, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    SetOption(connection.receiver, SOL_SOCKET, SO_RCVTIMEO, &socketTimeoutMs,
              sizeof socketTimeoutMs);
    return connection;
}

// The pause lets the receiving thread reach its wait for the piece.
void SendPiece(SOCKET s, std::string_view piece)
{
    std::this_thread::sleep_for(pauseBeforePiece);
    RequireCall(sendto(s, piece.data(), int(piece.size()), 0, nullptr, 0) == int(piece.size()),
                "sendto");
}

// Sends the stream in the planned pieces, then ends the sending side.
void SendStream(SOCKET s, const Plan& plan)
{
    std::string_view rest = plan.stream;
    for (size_t length : plan.pieces) {
        const std::string_view piece = rest.substr(0, length);
        SendPiece(s, piece);
        rest.remove_prefix(piece.size());
    }
    SendPiece(s, rest);
    RequireCall(shutdown(s, SD_SEND) == 0, "shutdown");
}

struct Outcome {
    int result = -1;
    EchoMessage message;
    sockaddr_storage from;
    int fromLength = sizeof from;
};

void Receive(SOCKET s, bool askAddress, Outcome& outcome)
{
    std::memset(&outcome.message, 0xA5, sizeof outcome.message);
    sockaddr* from = askAddress ? reinterpret_cast<sockaddr*>(&outcome.from) : nullptr;
    int* fromLength = askAddress ? &outcome.fromLength : nullptr;
    outcome.result = ReceiveMessage(s, &outcome.message, from, fromLength, PeerDeadline());
}

void CheckOutcome(const Plan& plan, const Outcome& outcome)
{
    const std::string_view message(outcome.message.bytes, ECHO_MESSAGE_SIZE);
    const std::string_view sent = plan.stream.substr(0, ECHO_MESSAGE_SIZE);
    const bool complete = sent.size() == ECHO_MESSAGE_SIZE;
    Require(outcome.result == (complete ? RECEIVE_COMPLETE : RECEIVE_INCOMPLETE));
    Require(message.substr(0, sent.size()) == sent);
    Require(message.find_first_not_of('\0', sent.size()) == std::string_view::npos);
    Require(outcome.fromLength >= 0 && size_t(outcome.fromLength) <= sizeof outcome.from);
}

// libFuzzer's SIGALRM, once a second, would break a blocking socket call
// with EINTR; it waits for the end of the exchange instead. The receiving
// thread inherits the mask.
class AlarmDeferred {
public:
    AlarmDeferred()
    {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &alarm, &previous);
    }
    ~AlarmDeferred() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    AlarmDeferred(const AlarmDeferred&) = delete;
    AlarmDeferred& operator=(const AlarmDeferred&) = delete;

private:
    sigset_t previous;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const AlarmDeferred deferred;
    const Plan plan = PlanFrom(bytes, size);
    const Connection connection = Connect();
    Outcome outcome;
    std::thread receiving(Receive, connection.receiver, plan.askAddress, std::ref(outcome));
    SendStream(connection.sender, plan);
    receiving.join();
    // The sender first, so that its reset ends the connection on both sides.
    closesocket(connection.sender);
    closesocket(connection.receiver);
    CheckOutcome(plan, outcome);
    return 0;
}
