// The client side of the echo exchange on the real dialog: ClientConnect and
// ClientExchange run on the dialog's thread, as a Send press runs them,
// against test servers on loopback that run on threads of their own and
// answer well, in pieces, short, long, with a reset, or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "frontend/resource.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/client.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A test server: listening on the loopback address of each family, all on
// one port, and running its part on a thread of its own.
class TestServer {
public:
    explicit TestServer(const std::vector<raw::Family>& families = {raw::Family::V4}, int port = 0)
    {
        for (raw::Family family : families) {
            raw::Fd listener(raw::Listen(family, port));
            if (!listener.valid()) {
                ADD_FAILURE() << "no listener on loopback";
                continue;
            }
            port = raw::LocalPort(listener.get());
            listeners_.push_back(std::move(listener));
        }
        port_ = port;
    }
    ~TestServer() { Join(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    std::string Port() const { return std::to_string(port_); }

    // For the part: the next connection, whichever family it came on.
    raw::Fd Accept()
    {
        std::vector<int> fds;
        for (const raw::Fd& listener : listeners_)
            fds.push_back(listener.get());
        raw::Fd connection(raw::Accept(fds, TEST_LIMIT_MS));
        EXPECT_TRUE(connection.valid()) << "the client never connected";
        return connection;
    }

    void Run(std::function<void()> part) { thread_ = std::thread(std::move(part)); }
    // For the part: serves one good exchange, keeping what it received.
    void EchoOnce(std::string* received)
    {
        Run([this, received] {
            raw::Fd connection = Accept();
            *received = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
            raw::Send(connection.get(), *received);
        });
    }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::vector<raw::Fd> listeners_;
    int port_ = 0;
    std::thread thread_;
};

std::string Padded(const std::string& text) { return text + std::string(ECHO_MESSAGE_SIZE - text.size(), '\0'); }

// One message from the client.
std::string ReceiveOne(const raw::Fd& connection)
{
    return raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
}

WideText SentLine(const std::string& host, const std::string& text)
{
    return Wide("Sent to server(" + host + ") ----> " + text + "\r\n");
}

WideText EchoLine(const std::string& host, const std::string& text)
{
    return Wide("Received Echo from server(" + host + ") <---- " + text + "\r\n");
}

const WideText SHORT_ECHO_LINE = TEXT("ERROR: Server didn't send back all the expected data!\r\n");

class Client : public EchoTest {
protected:
    // Runs script on the real main dialog, with the log going to it, and
    // returns the log as the script left it.
    WideText WithDialog(const std::function<void(HWND)>& script)
    {
        WideText log;
        RunMainDialog([&](HWND dialog) {
            AppState.dialog.store(dialog);
            script(dialog);
            log = LogText(dialog);
        });
        return log;
    }

    // One Send as the dialog makes it: connect, then exchange.
    static bool Send(HWND dialog, const WideText& data)
    {
        SetDlgItemTextW(dialog, IDC_DATA, data.c_str());
        if (!ClientConnect())
            return false;
        ClientExchange(dialog);
        return true;
    }

    // A complete exchange with a server that echoes, for the given host text.
    void ExpectEchoThrough(raw::Family family, const std::vector<std::string>& hosts)
    {
        for (const std::string& host : hosts) {
            SCOPED_TRACE(host);
            TestServer server({family});
            std::string received;
            bool stillOpen = false;
            server.Run([&] {
                raw::Fd connection = server.Accept();
                received = ReceiveOne(connection);
                raw::Send(connection.get(), received);
                // The client keeps its connection after the exchange.
                stillOpen = raw::WaitForEnd(connection.get(), 200) == raw::End::Open;
            });
            WideText log = WithDialog([&](HWND dialog) {
                SetHostAndPort(host.c_str(), server.Port().c_str());
                EXPECT_TRUE(Send(dialog, TEXT("hello, echo")));
                server.Join();
            });
            EXPECT_EQ(Narrow(log), Narrow(SentLine(host, "hello, echo") + EchoLine(host, "hello, echo")));
            EXPECT_EQ(received, Padded("hello, echo"));
            EXPECT_TRUE(stillOpen);
            EXPECT_NE(AppState.clientSocket.load(), INVALID_SOCKET);
            ResetAppState();
            AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS);
        }
    }
};

// ---- Complete exchanges ----------------------------------------------------

TEST_F(Client, EchoesOverIPv4ShowingTheHostAsTyped)
{
    ExpectEchoThrough(raw::Family::V4, {"127.0.0.1", "127.1"});
}

TEST_F(Client, EchoesOverIPv6ShowingTheHostAsTyped)
{
    if (!raw::Fd(raw::Listen(raw::Family::V6)).valid())
        GTEST_SKIP() << "no IPv6 loopback here";
    ExpectEchoThrough(raw::Family::V6, {"::1", "0:0:0:0:0:0:0:1"});
}

TEST_F(Client, EchoesToAHostName)
{
    // localhost may resolve to either loopback address first: listen on both.
    std::vector<raw::Family> families = {raw::Family::V4};
    if (raw::Fd(raw::Listen(raw::Family::V6)).valid())
        families.push_back(raw::Family::V6);
    TestServer server(families);
    std::string received;
    server.EchoOnce(&received);
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("localhost", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("by name")));
        server.Join();
    });
    EXPECT_EQ(Narrow(log), Narrow(SentLine("localhost", "by name") + EchoLine("localhost", "by name")));
    EXPECT_EQ(received, Padded("by name"));
}

// The dialog paints nothing while it waits for the echo: the line of what
// was sent must be on screen (painted, not only in the box) by then.
TEST_F(Client, WhatWasSentIsPaintedWhileTheEchoIsAwaited)
{
    TestServer server;
    std::atomic<Clock::time_point> echoed{Clock::time_point::max()};
    server.Run([&] {
        raw::Fd connection = server.Accept();
        const std::string received = ReceiveOne(connection);
        std::this_thread::sleep_for(300ms);
        echoed = Clock::now();
        raw::Send(connection.get(), received);
    });
    std::vector<LogPaint> paints;
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        paints = LogPaintsDuring(dialog, [&] { EXPECT_TRUE(Send(dialog, TEXT("while you wait"))); });
        server.Join();
    });
    const WideText sent = SentLine("127.0.0.1", "while you wait");
    EXPECT_EQ(Narrow(log), Narrow(sent + EchoLine("127.0.0.1", "while you wait")));
    const bool shownInTime = std::any_of(paints.begin(), paints.end(), [&](const LogPaint& paint) {
        return paint.at < echoed.load() && paint.text == sent;
    });
    EXPECT_TRUE(shownInTime) << paints.size() << " paintings, none of the line sent before the echo";
}

TEST_F(Client, AnEchoInPiecesIsOneEcho)
{
    TestServer server;
    std::string received;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        received = ReceiveOne(connection);
        // The server answers with other text than it got, so the log must
        // show what came back.
        const std::string echo = Padded("PIECES ARRIVED");
        for (auto [at, count] : {std::pair{0, 1}, std::pair{1, 49}, std::pair{50, 50}}) {
            raw::Send(connection.get(), echo.substr(at, count));
            std::this_thread::sleep_for(30ms);
        }
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("pieces")));
        server.Join();
    });
    EXPECT_EQ(received, Padded("pieces"));
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "pieces") + EchoLine("127.0.0.1", "PIECES ARRIVED")));
}

TEST_F(Client, EmptyDataSendsAMessageOfNulBytes)
{
    TestServer server;
    std::string received;
    server.EchoOnce(&received);
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("")));
        server.Join();
    });
    EXPECT_EQ(received, std::string(ECHO_MESSAGE_SIZE, '\0'));
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "") + EchoLine("127.0.0.1", "")));
}

TEST_F(Client, LongDataIsCutToNinetyNineBytesAtACharacterBoundary)
{
    struct Case {
        WideText field;
        std::string sent;
    };
    WideText ascii;
    for (int i = 0; i < 150; ++i)
        ascii += static_cast<char16_t>(TEXT('a') + i % 26);
    std::string asciiSent;
    for (int i = 0; i < 99; ++i)
        asciiSent += static_cast<char>('a' + i % 26);
    // 60 two-byte characters: the 50th would cover bytes 98 and 99.
    WideText accents(60, TEXT('\u00e9'));
    std::string accentsSent;
    for (int i = 0; i < 49; ++i)
        accentsSent += "\xC3\xA9";
    for (const Case& sample : {Case{ascii, asciiSent}, Case{accents, accentsSent}}) {
        SCOPED_TRACE(sample.sent.size());
        TestServer server;
        std::string received;
        server.EchoOnce(&received);
        WideText log = WithDialog([&](HWND dialog) {
            SetHostAndPort("127.0.0.1", server.Port().c_str());
            EXPECT_TRUE(Send(dialog, sample.field));
            server.Join();
        });
        EXPECT_EQ(received, Padded(sample.sent));
        EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", sample.sent) + EchoLine("127.0.0.1", sample.sent)));
    }
}

// ---- Echoes that go wrong ------------------------------------------------

TEST_F(Client, AShortEchoIsReported)
{
    TestServer server;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        ReceiveOne(connection);
        raw::Send(connection.get(), std::string(60, 'x'));
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("short")));
        server.Join();
    });
    EXPECT_EQ(Narrow(log),
              Narrow(SentLine("127.0.0.1", "short") + SHORT_ECHO_LINE));
}

TEST_F(Client, OnlyTheFirstHundredBytesOfALongEchoAreTaken)
{
    TestServer server;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        ReceiveOne(connection);
        raw::Send(connection.get(), std::string(100, 'A') + std::string(50, 'B'));
        // Held open until the test has looked at what stayed unread.
        raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("long")));
        char rest[100];
        EXPECT_EQ(recvfrom(AppState.clientSocket.load(), rest, sizeof rest, 0, nullptr, nullptr), 50);
        EXPECT_EQ(std::string(rest, 50), std::string(50, 'B'));
        ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
        server.Join();
    });
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "long") + EchoLine("127.0.0.1", std::string(100, 'A'))));
}

TEST_F(Client, AResetInsteadOfAnEchoIsAReceiveError)
{
    TestServer server;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        ReceiveOne(connection);
        raw::Reset(connection.release());
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("reset")));
        server.Join();
    });
    const WideText reset = Wide("ERROR: Couldn't receive the data! Error = " + std::to_string(WSAECONNRESET) + "\r\n");
    const WideText expected = SentLine("127.0.0.1", "reset") + reset;
    // Under Wine a reset may read as an orderly close.
    EXPECT_EQ(Narrow(ResetSeenAsClose(log, reset, SHORT_ECHO_LINE)),
              Narrow(ResetSeenAsClose(expected, reset, SHORT_ECHO_LINE)));
}

TEST_F(Client, ASilentOrTricklingServerIsGivenUpOnAtTheDeadline)
{
    AppState.peerTimeoutMs.store(300);
    for (bool trickle : {false, true}) {
        TestServer server;
        int trickled = 0;
        raw::End end = raw::End::Open;
        server.Run([&] {
            raw::Fd connection = server.Accept();
            ReceiveOne(connection);
            // Says nothing, or a byte every 50 ms (five seconds for the whole
            // echo), until the client drops the connection.
            while (trickle && trickled < 99 && raw::WaitForEnd(connection.get(), 50) == raw::End::Open &&
                   raw::Send(connection.get(), "e"))
                ++trickled;
            end = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
        });
        WideText log = WithDialog([&](HWND dialog) {
            SetHostAndPort("127.0.0.1", server.Port().c_str());
            EXPECT_TRUE(Send(dialog, TEXT("anyone?")));
            ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
            server.Join();
        });
        EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "anyone?") +
                                      Wide("ERROR: Couldn't receive the data! Error = " +
                                           std::to_string(WSAETIMEDOUT) + "\r\n")))
            << trickle;
        EXPECT_LT(trickled, 99);
        // Echo bytes left unread make the client's close a reset.
        EXPECT_TRUE(end == raw::End::Closed || (trickle && end == raw::End::Reset)) << trickle;
    }
}

TEST_F(Client, AServerThatResetBeforeTheSendIsASendError)
{
    TestServer server;
    std::atomic<bool> reset{false};
    server.Run([&] {
        raw::Fd connection = server.Accept();
        raw::Reset(connection.release());
        reset.store(true);
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        SetDlgItemTextW(dialog, IDC_DATA, TEXT("too late"));
        ASSERT_EQ(ClientConnect(), 1);
        server.Join();
        EXPECT_TRUE(reset.load());
        // Time for the reset to reach the client's end.
        PumpUntil([] { return false; }, 100);
        ClientExchange(dialog);
    });
    EXPECT_EQ(Narrow(log), "ERROR: Couldn't send the data! error = " + std::to_string(WSAECONNRESET) + "\r\n");
}

// ---- Connecting --------------------------------------------------------------

TEST_F(Client, AFullListenQueueIsGivenUpOnAtTheConnectDeadline)
{
    raw::Fd listener(raw::Listen(raw::Family::V4, 0, 0));
    const int port = raw::LocalPort(listener.get());
    raw::Fd waiting(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
    ASSERT_TRUE(waiting.valid());
    // The queue is full: the system answers no further connection attempt.
    AppState.peerTimeoutMs.store(300);
    Clock::duration elapsed{};
    WideText log = WithDialog([&](HWND) {
        SetHostAndPort("127.0.0.1", std::to_string(port).c_str());
        const auto start = Clock::now();
        EXPECT_EQ(ClientConnect(), 0);
        elapsed = Clock::now() - start;
        EXPECT_EQ(AppState.clientSocket.load(), INVALID_SOCKET);
    });
    EXPECT_EQ(Narrow(log), "Connect to server failed\r\n");
    // Far below the minutes the system itself would keep trying.
    EXPECT_LT(elapsed, std::chrono::milliseconds(TEST_LIMIT_MS));
}

// Without a host the resolver gives the loopback address of each family,
// in its own order; the first drops every handshake, as a filtered route
// does, and only the last has a server. The race reaches it in a fraction
// of the connect's deadline.
TEST_F(Client, AFirstAddressThatDropsDoesNotHideALaterOneThatAnswers)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    ASSERT_EQ(getaddrinfo(nullptr, "1", &hints, &list), 0);
    std::vector<raw::Family> families;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next)
        families.push_back(entry->ai_family == AF_INET6 ? raw::Family::V6 : raw::Family::V4);
    freeaddrinfo(list);
    if (families.size() < 2 || families.front() == families.back())
        GTEST_SKIP() << "the resolver gives one loopback address here";
    // Both on one port, which the other family may hold elsewhere: a few tries.
    raw::FullListener dropping;
    std::unique_ptr<TestServer> server;
    for (int attempt = 0; attempt < 10 && server == nullptr; ++attempt) {
        dropping = raw::ListenFull(families.front());
        raw::Fd probe(raw::Listen(families.back(), dropping.port));
        if (dropping.port > 0 && probe.valid()) {
            probe = raw::Fd();
            server = std::make_unique<TestServer>(std::vector<raw::Family>{families.back()}, dropping.port);
        }
    }
    ASSERT_NE(server, nullptr) << "no port free in both families";
    std::string received;
    server->EchoOnce(&received);
    Clock::duration took{};
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort(nullptr, server->Port().c_str());
        const auto start = Clock::now();
        EXPECT_TRUE(Send(dialog, TEXT("second address")));
        took = Clock::now() - start;
        server->Join();
    });
    EXPECT_EQ(received, Padded("second address"));
    EXPECT_EQ(Narrow(log), Narrow(SentLine("", "second address") + EchoLine("", "second address")));
    EXPECT_LT(took, 1s);
}

TEST_F(Client, AnIPv4MappedAddressReachesAnIPv4Server)
{
    if (!raw::Fd(raw::Listen(raw::Family::V6)).valid())
        GTEST_SKIP() << "no IPv6 here";
    ExpectEchoThrough(raw::Family::V4, {"::ffff:127.0.0.1"});
}

TEST_F(Client, APortBeyond65535IsRefusedRatherThanWrappedRound)
{
    // However it is spelt: the resolver reads a sign and leading white space.
    for (const char* port : {"110255", "+70000", " 70000"}) {
        WideText log = WithDialog([&](HWND) {
            SetHostAndPort("127.0.0.1", port);
            EXPECT_EQ(ClientConnect(), 0) << port;
        });
        EXPECT_EQ(Narrow(log), "ERROR: Couldn't get resolve the server name/address!") << port;
    }
}

TEST_F(Client, AnAddressOfMoreThan255CharactersIsNoAddress)
{
    // Its first 255 characters would read as 127.0.0.1.
    const std::string address = "127.0.0." + std::string(246, '0') + "19";
    TestServer server;
    WideText log = WithDialog([&](HWND) {
        SetHostAndPort(address.c_str(), server.Port().c_str());
        EXPECT_EQ(ClientConnect(), 0);
    });
    EXPECT_EQ(Narrow(log), "ERROR: Couldn't get resolve the server name/address!");
}

TEST_F(Client, ASendBeforeAnyStartCannotResolveAndLeavesTheLineOpen)
{
    TestServer server;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        raw::Send(connection.get(), ReceiveOne(connection));
    });
    WideText firstLog;
    WideText log = WithDialog([&](HWND dialog) {
        // No host or port yet.
        SetDlgItemTextW(dialog, IDC_DATA, TEXT("early"));
        EXPECT_EQ(ClientConnect(), 0);
        EXPECT_EQ(AppState.clientAddresses, nullptr);
        firstLog = LogText(dialog);
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("later")));
        server.Join();
    });
    EXPECT_EQ(Narrow(firstLog), "ERROR: Couldn't get resolve the server name/address!");
    // The next text goes on the same line.
    EXPECT_EQ(Narrow(log), "ERROR: Couldn't get resolve the server name/address!" +
                               Narrow(SentLine("127.0.0.1", "later") + EchoLine("127.0.0.1", "later")));
}

TEST_F(Client, AFailedResolutionReleasesThePreviousOne)
{
    TestServer server;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        raw::Send(connection.get(), ReceiveOne(connection));
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("one")));
        server.Join();
        EXPECT_NE(AppState.clientAddresses, nullptr);
        // A port no resolver knows.
        SetHostAndPort("127.0.0.1", "no-such-service-name");
        EXPECT_EQ(ClientConnect(), 0);
        EXPECT_EQ(AppState.clientAddresses, nullptr);
    });
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "one") + EchoLine("127.0.0.1", "one")) +
                               "ERROR: Couldn't get resolve the server name/address!");
}

TEST_F(Client, NothingListeningFailsToConnectAndClosesTheOldConnection)
{
    // A bound port that nobody listens on refuses connections.
    raw::Fd unanswered(raw::BindOnly(raw::Family::V4));
    ASSERT_TRUE(unanswered.valid());
    const std::string refusedPort = std::to_string(raw::LocalPort(unanswered.get()));
    TestServer server;
    std::atomic<bool> echoed{false};
    raw::End endOfFirst = raw::End::Open;
    server.Run([&] {
        raw::Fd connection = server.Accept();
        raw::Send(connection.get(), ReceiveOne(connection));
        echoed.store(true);
        endOfFirst = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("first")));
        EXPECT_TRUE(PumpUntil([&] { return echoed.load(); }));
        SetHostAndPort("127.0.0.1", refusedPort.c_str());
        EXPECT_EQ(ClientConnect(), 0);
        EXPECT_EQ(AppState.clientSocket.load(), INVALID_SOCKET);
        server.Join();
    });
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "first") + EchoLine("127.0.0.1", "first")) +
                               "Connect to server failed\r\n");
    // The new socket replaced the first connection, which was closed then.
    EXPECT_EQ(endOfFirst, raw::End::Closed);
}

TEST_F(Client, EachSendUsesANewConnectionAndClosesThePreviousOne)
{
    TestServer server;
    std::string first, second;
    raw::End endOfFirst = raw::End::Open;
    raw::End endOfSecond = raw::End::Closed;
    server.Run([&] {
        raw::Fd one = server.Accept();
        first = ReceiveOne(one);
        raw::Send(one.get(), first);
        raw::Fd two = server.Accept();
        // By the time the second connection came, the first had been closed.
        endOfFirst = raw::WaitForEnd(one.get(), TEST_LIMIT_MS);
        second = ReceiveOne(two);
        raw::Send(two.get(), second);
        endOfSecond = raw::WaitForEnd(two.get(), 200);
    });
    WideText log = WithDialog([&](HWND dialog) {
        SetHostAndPort("127.0.0.1", server.Port().c_str());
        EXPECT_TRUE(Send(dialog, TEXT("one")));
        EXPECT_TRUE(Send(dialog, TEXT("two")));
        server.Join();
    });
    EXPECT_EQ(first, Padded("one"));
    EXPECT_EQ(second, Padded("two"));
    EXPECT_EQ(endOfFirst, raw::End::Closed);
    EXPECT_EQ(endOfSecond, raw::End::Open);
    EXPECT_EQ(Narrow(log), Narrow(SentLine("127.0.0.1", "one") + EchoLine("127.0.0.1", "one") +
                                  SentLine("127.0.0.1", "two") + EchoLine("127.0.0.1", "two")));
}

}  // namespace
