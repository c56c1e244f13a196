// Connecting within a deadline; receiving exactly one message over a real
// loopback connection however the peer cuts, ends or breaks it, and sending
// one whole. Raw peers only, no dialog: the Windows build runs these too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "platform/extensions.h"
#include "tests/support/echo_bytes.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/deadline.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;

// Connects s to 127.0.0.1 at port, as the client does.
int ConnectTo(SOCKET s, int port, DWORD milliseconds)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ConnectWithin(s, reinterpret_cast<sockaddr*>(&address), sizeof address, milliseconds);
}

// A program socket, closed when the test ends.
class ProgramSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetAppState();
        AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS);
        program_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(program_, INVALID_SOCKET);
    }
    void TearDown() override
    {
        closesocket(program_);
        ResetAppState();
    }

    SOCKET program_ = INVALID_SOCKET;
};

// A connect that succeeds or is refused is made by every client test; here
// the one the client cannot show: the system's silence, up to the deadline.
using ConnectWithinTime = ProgramSocket;

TEST_F(ConnectWithinTime, AFullListenQueueRunsOutAtTheDeadline)
{
    // With a backlog of 0, one waiting connection fills the queue, and the
    // system drops the next handshake.
    raw::Fd listener(raw::Listen(raw::Family::V4, 0, 0));
    const int port = raw::LocalPort(listener.get());
    raw::Fd queued(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
    ASSERT_TRUE(queued.valid());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectTo(program_, port, 300), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    // It waited for the handshake rather than failing at once.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
}

// A program socket connected to a raw peer on 127.0.0.1. Every receive
// below is bounded by the peer time-out.
class Connection : public ProgramSocket {
protected:
    void SetUp() override
    {
        ProgramSocket::SetUp();
        listener_ = raw::Fd(raw::Listen(raw::Family::V4));
        ASSERT_TRUE(listener_.valid());
        ASSERT_EQ(ConnectTo(program_, raw::LocalPort(listener_.get()), TEST_LIMIT_MS), 0);
        peer_ = raw::Fd(raw::Accept(listener_.get(), TEST_LIMIT_MS));
        ASSERT_TRUE(peer_.valid());
    }

    // Sends pieces from a thread of the peer's own, a pause between them.
    std::thread SendPieces(std::vector<std::string> pieces)
    {
        return std::thread([this, pieces] {
            for (const std::string& piece : pieces) {
                EXPECT_TRUE(raw::Send(peer_.get(), piece));
                std::this_thread::sleep_for(30ms);
            }
        });
    }

    raw::Fd listener_;
    raw::Fd peer_;
};

std::string Pattern(size_t count, char first = 'A')
{
    std::string bytes;
    for (size_t i = 0; i < count; ++i)
        bytes += static_cast<char>(first + i % 26);
    return bytes;
}

TEST_F(Connection, PiecesMakeOneWholeMessage)
{
    const std::string payload = Pattern(100);
    std::thread peer = SendPieces({payload.substr(0, 1), payload.substr(1, 49), payload.substr(50, 50)});
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), payload);
}

// The server asks for the sender's address with its receive, into the
// buffer that accept filled. A stream socket's receive writes either no
// address or the peer's: the buffer still names the peer afterwards, and
// the length handed back never claims more than the buffer holds.
TEST_F(Connection, AnAddressBufferStillNamesThePeerAfterAMessageInPieces)
{
    sockaddr_storage from{};
    int fromLength = sizeof from;
    ASSERT_EQ(getpeername(program_, reinterpret_cast<sockaddr*>(&from), &fromLength), 0);
    fromLength = sizeof from;
    std::thread peer = SendPieces({Pattern(30), Pattern(70)});
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, reinterpret_cast<sockaddr*>(&from), &fromLength,
                                 PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), Pattern(30) + Pattern(70));
    EXPECT_GE(fromLength, 0);
    EXPECT_LE(fromLength, static_cast<int>(sizeof from));
    ASSERT_EQ(from.ss_family, AF_INET);
    const auto* address = reinterpret_cast<const sockaddr_in*>(&from);
    EXPECT_EQ(ntohl(address->sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohs(address->sin_port), raw::LocalPort(listener_.get()));
}

TEST_F(Connection, APeerThatClosesEarlyLeavesAnIncompleteMessage)
{
    std::thread peer([this] {
        EXPECT_TRUE(raw::Send(peer_.get(), Pattern(60)));
        raw::Close(peer_.release());
    });
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_INCOMPLETE);
    EXPECT_EQ(Bytes(message), Padded(Pattern(60)));
}

TEST_F(Connection, APeerThatClosesAtOnceSendsNothing)
{
    raw::Close(peer_.release());
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_INCOMPLETE);
    EXPECT_EQ(Bytes(message), std::string(ECHO_MESSAGE_SIZE, '\0'));
}

TEST_F(Connection, OnlyTheFirstHundredBytesAreRead)
{
    const std::string payload = Pattern(150);
    ASSERT_TRUE(raw::Send(peer_.get(), payload));
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_COMPLETE);
    EXPECT_EQ(Bytes(message), payload.substr(0, 100));
    // The rest waits unread on the connection.
    char rest[100];
    EXPECT_EQ(recvfrom(program_, rest, sizeof rest, 0, nullptr, nullptr), 50);
    EXPECT_EQ(std::string(rest, 50), payload.substr(100));
}

TEST_F(Connection, AResetIsAnError)
{
    if (UnderWine())
        GTEST_SKIP() << "Wine reads a reset that came before the receive as an orderly close";
    raw::Reset(peer_.release());
    EchoMessage message;
    EXPECT_EQ(ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline()), RECEIVE_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Connection, AResetAfterPartOfTheMessageIsAnError)
{
    std::thread peer([this] {
        EXPECT_TRUE(raw::Send(peer_.get(), Pattern(40)));
        std::this_thread::sleep_for(50ms);
        raw::Reset(peer_.release());
    });
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    int error = WSAGetLastError();
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_ERROR);
    EXPECT_EQ(error, WSAECONNRESET);
}

TEST_F(Connection, ATricklingPeerIsGivenUpOnAtTheDeadline)
{
    // A byte every 50 ms would take five seconds; the deadline is 300 ms away.
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread peer([&] {
        for (int i = 0; i < 99 && !stop && raw::Send(peer_.get(), "x"); ++i) {
            sent.fetch_add(1);
            std::this_thread::sleep_for(50ms);
        }
    });
    AppState.peerTimeoutMs.store(300);
    EchoMessage message;
    int outcome = ReceiveMessage(program_, &message, nullptr, nullptr, PeerDeadline());
    int error = WSAGetLastError();
    int sentByThen = sent.load();
    stop = true;
    peer.join();
    EXPECT_EQ(outcome, RECEIVE_ERROR);
    EXPECT_EQ(error, WSAETIMEDOUT);
    EXPECT_LT(sentByThen, 99);  // the peer was still trickling
}

TEST_F(Connection, SendEchoMessageSendsAllHundredBytes)
{
    EchoMessage message;
    BuildMessage("ping", &message);
    sockaddr_in unused{};
    EXPECT_EQ(SendEchoMessage(program_, &message, reinterpret_cast<sockaddr*>(&unused), sizeof unused,
                              PeerDeadline()),
              1);
    EXPECT_EQ(raw::Receive(peer_.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS), Padded("ping"));
    EXPECT_EQ(raw::WaitForEnd(peer_.get(), 100), raw::End::Open);
}

}  // namespace
