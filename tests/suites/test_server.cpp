// The server worker on its own thread, logging into the real dialog, with
// raw test clients on loopback running on threads of their own while the
// dialog's thread keeps serving the worker's log calls. A client that
// fails its exchange costs only its own connection; set-up failures end
// the worker, which then holds no socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "frontend/resource.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/echo_message.h"
#include "transport/server_worker.h"

#ifndef _WIN32
#include <cerrno>

#include "tests/support/descriptors_used_up.h"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Padded(const std::string& text) { return text + std::string(ECHO_MESSAGE_SIZE - text.size(), '\0'); }

WideText ReadyLine(SOCKET listener, const std::string& family, const std::string& port)
{
    return Wide("Socket " + HandleText(listener) + " ready for connection with " + family +
                " family, TCP type, on port " + port + "\r\n");
}

WideText AcceptedLine(SOCKET connection)
{
    return Wide("Accepted TCP connection from socket " + HandleText(connection) + "\r\n");
}

WideText ReceivedLine(const std::string& peer, const std::string& text)
{
    return Wide("Received from client(" + peer + ") <---- " + text + "\r\n");
}

WideText EchoLine(const std::string& text) { return Wide("Send Echo to client ---->" + text + "\r\n"); }

WideText ReceiveErrorLine(int error)
{
    return Wide("ERROR: Couldn't receive the data! Error = " + std::to_string(error) + "\r\n");
}

const WideText SHORT_LINE = TEXT("ERROR: Didn't get all the expected data from the client!\r\n");

// What one raw client got from the server.
struct ClientResult {
    bool connected = false;
    std::string echo;
    raw::End end = raw::End::Failed;  // how the connection stood after the echo
};

// A whole client exchange: connect, send the pieces with a pause between
// them, read one message back, then see whether the server kept the
// connection open (within endWaitMs).
ClientResult Exchange(raw::Family family, int port, const std::vector<std::string>& pieces, int endWaitMs = 0)
{
    ClientResult result;
    raw::Fd connection(raw::Connect(family, port, TEST_LIMIT_MS));
    result.connected = connection.valid();
    if (!result.connected)
        return result;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(30ms);
        raw::Send(connection.get(), pieces[i]);
    }
    result.echo = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
    result.end = raw::WaitForEnd(connection.get(), endWaitMs);
    return result;
}

class Server : public EchoTest {
protected:
    // Runs script on the real main dialog and returns the log as the
    // script left it. A worker still running afterwards is stopped.
    WideText WithDialog(const std::function<void(HWND)>& script)
    {
        WideText log;
        RunMainDialog([&](HWND dialog) {
            dialog_ = dialog;
            script(dialog);
            log = LogText(dialog);
            if (worker_ != nullptr) {
                EXPECT_TRUE(StopWorker()) << "the worker did not end";
            }
        });
        dialog_ = nullptr;
        return log;
    }

    // Runs script on the real main dialog with a worker listening on host,
    // on a port the system picks; script gets that port. Returns the log as
    // WithDialog does.
    WideText WithWorker(const std::function<void(int port)>& script, const char* host = "127.0.0.1",
                        const char* port = "0")
    {
        return WithDialog([&](HWND) {
            const int listening = StartWorker(host, port);
            ASSERT_GT(listening, 0);
            script(listening);
        });
    }

    // Starts the worker and waits for it to listen; its port, or -1.
    int StartWorker(const char* host, const char* port = "0")
    {
        const int before = Occurrences(LogText(dialog_), TEXT(" ready for connection with "));
        worker_ = StartServerWorker(dialog_, host, port);
        if (worker_ == nullptr)
            return -1;
        if (!WaitForLog(TEXT(" ready for connection with "), before + 1))
            return -1;
        return ListeningPort();
    }

    // Ends the worker by closing its sockets; true when it ended in time.
    bool StopWorker()
    {
        HANDLE worker = std::exchange(worker_, nullptr);
        return StopServerWorker(worker);
    }

    // Waits for the worker to end by itself.
    bool WorkerEnds()
    {
        HANDLE worker = std::exchange(worker_, nullptr);
        return WaitForWorkerEnd(worker);
    }

    // Runs the dialog's events until the log holds part count times.
    bool WaitForLog(const WideText& part, int count = 1)
    {
        return PumpUntil([&] { return Occurrences(LogText(dialog_), part) >= count; });
    }

    // A connection the worker has accepted and now serves.
    raw::Fd AcceptedClient(int port)
    {
        const int before = Occurrences(LogText(dialog_), TEXT("Accepted TCP connection"));
        raw::Fd connection(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
        EXPECT_TRUE(connection.valid());
        EXPECT_TRUE(WaitForLog(TEXT("Accepted TCP connection"), before + 1));
        return connection;
    }

    // Connects a raw client to port and runs its script with that
    // connection on a thread of its own, while the dialog's thread serves
    // the worker's log calls.
    bool ClientWhilePumping(int port, const std::function<void(raw::Fd& connection)>& script)
    {
        return RunWhilePumping([&] {
            raw::Fd connection(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
            script(connection);
        });
    }

    // One client's whole exchange on a thread of its own.
    ClientResult ExchangeWhilePumping(raw::Family family, int port, const std::vector<std::string>& pieces,
                                      int endWaitMs = 0)
    {
        ClientResult result;
        EXPECT_TRUE(RunWhilePumping([&] { result = Exchange(family, port, pieces, endWaitMs); }));
        return result;
    }

    // After a client failed its exchange: waits until the worker has let go
    // of that connection, then has the next client send text, and returns
    // its result once the worker has logged the echo.
    ClientResult NextClientServed(int port, const std::string& text)
    {
        EXPECT_TRUE(PumpUntil([] { return AppState.acceptedSocket.load() == INVALID_SOCKET; }));
        ClientResult next = ExchangeWhilePumping(raw::Family::V4, port, {Padded(text)});
        EXPECT_TRUE(WaitForLog(TEXT("Send Echo to client")));
        return next;
    }

    HWND dialog_ = nullptr;
    HANDLE worker_ = nullptr;
};

// How the worker's log ends when the test stops it: accept fails on the
// closed listening socket (or on its emptied field, if the worker had not
// yet gone back to accept). Each system names these failures its own way.
#ifdef _WIN32
// Windows fails a blocking call that closesocket ends with WSAEINTR, Wine
// with WSA_OPERATION_ABORTED.
const int STOP_ERRORS[] = {WSAEINTR, WSA_OPERATION_ABORTED, WSAENOTSOCK};
#else
const int STOP_ERRORS[] = {EBADF, ENOTSOCK};
#endif
bool EndsWithStopLine(const WideText& log)
{
    for (int error : STOP_ERRORS) {
        const WideText line = Wide("ERROR: accept() failed with error = " + std::to_string(error) + "\r\n");
        if (log.size() >= line.size() && log.compare(log.size() - line.size(), line.size(), line) == 0)
            return true;
    }
    return false;
}

// ---- Complete exchanges ----------------------------------------------------

TEST_F(Server, OneExchangeLogsReadyAcceptedReceivedAndEcho)
{
    WideText expected;
    ClientResult client;
    WideText log = WithWorker([&](int port) {
        const SOCKET listener = AppState.listenSocket.load();
        client = ExchangeWhilePumping(raw::Family::V4, port, {Padded("hello, server")}, 200);
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client")));
        // The connection stays open, and in AppState, until the next one.
        const SOCKET connection = AppState.acceptedSocket.load();
        EXPECT_NE(connection, INVALID_SOCKET);
        // Port 0 lets the system choose; the ready line shows its choice.
        expected = ReadyLine(listener, "AF_INET", std::to_string(port)) + AcceptedLine(connection) +
                   ReceivedLine("127.0.0.1", "hello, server") + EchoLine("hello, server");
        EXPECT_EQ(Narrow(LogText(dialog_)), Narrow(expected));
        EXPECT_TRUE(StopWorker());
        EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
        EXPECT_EQ(AppState.acceptedSocket.load(), INVALID_SOCKET);
    });
    EXPECT_TRUE(client.connected);
    EXPECT_EQ(client.echo, Padded("hello, server"));
    EXPECT_EQ(client.end, raw::End::Open);
    ASSERT_EQ(log.compare(0, expected.size(), expected), 0) << Narrow(log);
    EXPECT_TRUE(EndsWithStopLine(log)) << Narrow(log);
    EXPECT_EQ(Occurrences(log, TEXT("\r\n")), 5);
}

// On ::1 to an IPv6 peer; on :: to an IPv4 peer too, which shows as an
// IPv4-mapped address.
TEST_F(Server, ServesOverIPv6AndOnTheUnspecifiedAddressOverIPv4Too)
{
    if (!raw::Fd(raw::Listen(raw::Family::V6)).valid())
        GTEST_SKIP() << "no IPv6 loopback here";
    struct Case {
        const char* host;
        raw::Family peerFamily;
        const char* peerName;
    };
    for (const Case& served : {Case{"::1", raw::Family::V6, "::1"}, Case{"::", raw::Family::V4, "::ffff:127.0.0.1"}}) {
        ClientResult client;
        WithDialog([&](HWND) {
            const int port = StartWorker(served.host);
            ASSERT_GT(port, 0);
            const SOCKET listener = AppState.listenSocket.load();
            client = ExchangeWhilePumping(served.peerFamily, port, {Padded("served")});
            ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client")));
            EXPECT_EQ(Narrow(LogText(dialog_)),
                      Narrow(ReadyLine(listener, "AF_INET6", std::to_string(port)) +
                             AcceptedLine(AppState.acceptedSocket.load()) +
                             ReceivedLine(served.peerName, "served") + EchoLine("served")));
        });
        EXPECT_EQ(client.echo, Padded("served")) << served.host;
    }
}

TEST_F(Server, AMessageInPiecesIsOneMessage)
{
    const std::string message = Padded("sent in three pieces");
    ClientResult client;
    WideText log = WithWorker([&](int port) {
        client = ExchangeWhilePumping(raw::Family::V4, port,
                                      {message.substr(0, 1), message.substr(1, 49), message.substr(50, 50)});
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client")));
    });
    EXPECT_EQ(client.echo, message);
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", "sent in three pieces")), 1);
    EXPECT_EQ(Occurrences(log, EchoLine("sent in three pieces")), 1);
}

TEST_F(Server, AnyHundredBytesAreEchoedUnchanged)
{
    std::string noNul;
    for (int i = 0; i < ECHO_MESSAGE_SIZE; ++i)
        noNul += static_cast<char>('!' + i % 90);
    const std::string afterNul = Padded(std::string("abc") + '\0' + "hidden but echoed");
    const std::string badText = Padded("ok\xFF\xC3(");
    std::vector<ClientResult> clients;
    WideText log = WithWorker([&](int port) {
        for (const std::string& payload : {noNul, afterNul, badText})
            clients.push_back(ExchangeWhilePumping(raw::Family::V4, port, {payload}));
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client"), 3));
    });
    ASSERT_EQ(clients.size(), 3u);
    EXPECT_EQ(clients[0].echo, noNul);
    EXPECT_EQ(clients[1].echo, afterNul);
    EXPECT_EQ(clients[2].echo, badText);
    // Shown up to the first NUL, or all hundred bytes when there is none;
    // bytes that are not text show as U+FFFD, and the line stays whole.
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", noNul) + EchoLine(noNul)), 1) << Narrow(log);
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", "abc") + EchoLine("abc")), 1) << Narrow(log);
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", "ok\uFFFD\uFFFD(") + EchoLine("ok\uFFFD\uFFFD(")), 1)
        << Narrow(log);
}

TEST_F(Server, ClientsOneAfterAnotherEachGetTheirEcho)
{
    const int CLIENTS = 5;
    std::vector<raw::Fd> kept;
    std::vector<std::string> echoes;
    WideText log = WithWorker([&](int port) {
        for (int i = 0; i < CLIENTS; ++i) {
            // Each client keeps its connection, to see when the server lets it go.
            ClientWhilePumping(port, [&](raw::Fd& connection) {
                raw::Send(connection.get(), Padded("client " + std::to_string(i)));
                echoes.push_back(raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS));
                kept.push_back(std::move(connection));
            });
            ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client"), i + 1));
        }
        // Accepting the next connection closed the one before; the last stays.
        // One time limit for all of them, so a broken run fails soon.
        const auto deadline = Clock::now() + std::chrono::milliseconds(TEST_LIMIT_MS);
        for (int i = 0; i < CLIENTS - 1; ++i) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            EXPECT_EQ(raw::WaitForEnd(kept[static_cast<size_t>(i)].get(), std::max(0, static_cast<int>(left.count()))),
                      raw::End::Closed)
                << i;
        }
        EXPECT_EQ(raw::WaitForEnd(kept.back().get(), 100), raw::End::Open);
    });
    ASSERT_EQ(echoes.size(), static_cast<size_t>(CLIENTS));
    for (int i = 0; i < CLIENTS; ++i) {
        const std::string text = "client " + std::to_string(i);
        EXPECT_EQ(echoes[static_cast<size_t>(i)], Padded(text));
        EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", text) + EchoLine(text)), 1) << text;
    }
    EXPECT_EQ(Occurrences(log, TEXT("Accepted TCP connection from socket 0x")), CLIENTS);
}

TEST_F(Server, ADialogThreadThatRunsNoEventsDoesNotHoldUpTheWorker)
{
    const int CLIENTS = 50;
    int served = 0;
    WithWorker([&](int port) {
        // The dialog's thread only waits, as behind a stalled display: a
        // worker that waited for it would serve nobody.
        std::thread clients([&] {
            for (int i = 0; i < CLIENTS && served == i; ++i) {
                const std::string text = "unseen " + std::to_string(i);
                served += Exchange(raw::Family::V4, port, {Padded(text)}).echo == Padded(text);
            }
        });
        clients.join();
        // The worker logs each echo once it has sent it.
        EXPECT_TRUE(WaitForLog(TEXT("Send Echo to client ---->unseen "), CLIENTS));
    });
    EXPECT_EQ(served, CLIENTS);
}

// ---- Clients that fail their exchange --------------------------------------

TEST_F(Server, AShortMessageCostsOnlyThatConnection)
{
    raw::End endOfShort = raw::End::Open;
    ClientResult next;
    WideText log = WithWorker([&](int port) {
        ClientWhilePumping(port, [&](raw::Fd& connection) {
            raw::Send(connection.get(), std::string(60, 's'));
            raw::ShutdownSend(connection.get());
            endOfShort = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
        });
        ASSERT_TRUE(WaitForLog(SHORT_LINE));
        next = NextClientServed(port, "next one");
    });
    EXPECT_EQ(endOfShort, raw::End::Closed);
    EXPECT_EQ(next.echo, Padded("next one"));
    const size_t shortAt = log.find(SHORT_LINE);
    ASSERT_NE(shortAt, WideText::npos);
    EXPECT_EQ(Occurrences(log.substr(shortAt), TEXT("Accepted TCP connection")), 1);
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", "next one") + EchoLine("next one")), 1);
    EXPECT_EQ(Occurrences(log, TEXT("Received from client")), 1);
}

TEST_F(Server, AResetCostsOnlyThatConnection)
{
    ClientResult next;
    WideText log = WithWorker([&](int port) {
        // Reset once the worker has the connection and waits for its bytes.
        raw::Fd connection = AcceptedClient(port);
        raw::Send(connection.get(), std::string(10, 'r'));
        raw::Reset(connection.release());
        next = NextClientServed(port, "after the reset");
    });
    EXPECT_EQ(Occurrences(log, TEXT("Accepted TCP connection")), 2);
    // Under Wine a reset may read as an orderly close.
    const WideText reset = ReceiveErrorLine(WSAECONNRESET);
    EXPECT_EQ(Occurrences(ResetSeenAsClose(log, reset, SHORT_LINE),
                          (UnderWine() ? SHORT_LINE : reset) + TEXT("Accepted TCP connection")),
              1)
        << Narrow(log);
    EXPECT_EQ(next.echo, Padded("after the reset"));
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", "after the reset") + EchoLine("after the reset")), 1);
}

TEST_F(Server, ASilentOrTricklingClientIsGivenUpOnAtTheDeadline)
{
    AppState.peerTimeoutMs.store(300);
    for (bool trickle : {false, true}) {
        int trickled = 0;
        raw::End end = raw::End::Open;
        ClientResult next;
        WideText log = WithWorker([&](int port) {
            ClientWhilePumping(port, [&](raw::Fd& connection) {
                // Says nothing, or a byte every 50 ms (five seconds for the
                // whole message), until the server lets go.
                while (trickle && trickled < 99 && raw::WaitForEnd(connection.get(), 50) == raw::End::Open &&
                       raw::Send(connection.get(), "t"))
                    ++trickled;
                end = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
            });
            ASSERT_TRUE(WaitForLog(TEXT("ERROR: Couldn't receive")));
            next = NextClientServed(port, "not silent");
        });
        EXPECT_LT(trickled, 99);
        EXPECT_EQ(end, raw::End::Closed) << trickle;
        EXPECT_EQ(Occurrences(log, ReceiveErrorLine(WSAETIMEDOUT) + TEXT("Accepted TCP connection")), 1) << Narrow(log);
        EXPECT_EQ(next.echo, Padded("not silent"));
    }
}

TEST_F(Server, APeersTextCannotForgeOrReorderLogLines)
{
    const std::string forged = "hi\r\nReceived from client(203.0.113.9) <---- transfer OK\xE2\x80\xAEgnp.exe";
    ClientResult client;
    WideText log = WithWorker([&](int port) {
        client = ExchangeWhilePumping(raw::Family::V4, port, {Padded(forged)});
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client")));
    });
    EXPECT_EQ(client.echo, Padded(forged));  // the bytes themselves are untouched
    const std::string shown = "hi\u240D\u240AReceived from client(203.0.113.9) <---- transfer OK\uFFFDgnp.exe";
    EXPECT_EQ(Occurrences(log, ReceivedLine("127.0.0.1", shown) + EchoLine(shown)), 1) << Narrow(log);
    // Ready, accepted, received and echo: each on a line of its own.
    EXPECT_EQ(Occurrences(log, TEXT("\r\n")), 4) << Narrow(log);
}

TEST_F(Server, AFailedEchoCostsOnlyThatConnection)
{
    AppState.peerTimeoutMs.store(300);
    // Wine fails the accept of a connection reset in the listen queue
    // instead: that too costs only that connection.
    const WideText failure =
        UnderWine() ? Wide("ERROR: accept() failed with error = " + std::to_string(WSAENOTCONN) + "\r\n")
                    : ReceivedLine("127.0.0.1", "gone before the echo") +
                          Wide("ERROR: Couldn't send the data! error = " + std::to_string(WSAECONNRESET) + "\r\n");
    ClientResult next;
    WideText log = WithWorker([&](int port) {
        // While the worker waits for a silent client, the next one sends its
        // message and resets from the listen queue; the worker reads the
        // message, and its echo finds the connection gone.
        raw::Fd silent = AcceptedClient(port);
        raw::Fd gone(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
        ASSERT_TRUE(raw::Send(gone.get(), Padded("gone before the echo")));
        raw::Reset(gone.release());
        ASSERT_TRUE(WaitForLog(failure));
        next = NextClientServed(port, "still served");
    });
    EXPECT_EQ(Occurrences(log, failure + TEXT("Accepted TCP connection")), 1) << Narrow(log);
    EXPECT_EQ(next.echo, Padded("still served"));
}

TEST_F(Server, PeersThatResetInTheListenQueueCostNoPause)
{
    const int RESETTING = 30;
    Clock::duration served{};
    ClientResult good;
    WideText log = WithWorker([&](int port) {
        // While the worker waits for the first client, the others connect
        // and reset, and a good client queues behind them.
        raw::Fd first = AcceptedClient(port);
        for (int i = 0; i < RESETTING; ++i) {
            raw::Fd peer(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
            ASSERT_TRUE(peer.valid());
            raw::Reset(peer.release());
        }
        raw::Fd queued(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
        ASSERT_TRUE(raw::Send(queued.get(), Padded("behind them")));
        const auto start = Clock::now();
        ASSERT_TRUE(raw::Send(first.get(), Padded("first")));
        ASSERT_TRUE(RunWhilePumping([&] { good.echo = raw::Receive(queued.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS); }));
        served = Clock::now() - start;
    });
    EXPECT_EQ(good.echo, Padded("behind them"));
    // Each reset cost one failure: a failed accept (Wine), or a failed or
    // short receive.
    EXPECT_EQ(Occurrences(log, TEXT("ERROR: ")), RESETTING) << Narrow(log);
    // A pause after each would add up to three seconds.
    EXPECT_LT(served, std::chrono::milliseconds(RESETTING * ACCEPT_RETRY_PAUSE_MS / 2)) << Narrow(log);
}

TEST_F(Server, ALastingAcceptFailurePausesLongerEachTime)
{
    const int WATCHED_MS = 2500;
    WideText log = WithWorker([&](int) {
        // The listener closed behind the worker's back, its handle still
        // in AppState: every accept fails at once, for good.
        ASSERT_EQ(closesocket(AppState.listenSocket.load()), 0);
        const auto start = Clock::now();
        PumpUntil([&] { return Clock::now() - start >= std::chrono::milliseconds(WATCHED_MS); }, 2 * WATCHED_MS);
        // The worker then ends; the handle must not be closed again.
        AppState.listenSocket.store(INVALID_SOCKET);
    });
    // Pauses of 0.1, 0.2, 0.4, 0.8 and 1 s: six failures in the time
    // watched, and one more as the worker ends. At 0.1 s each there would
    // be 25; without a pause, a log full.
    const int failures = Occurrences(log, TEXT("ERROR: accept() failed"));
    EXPECT_GE(failures, 3) << Narrow(log);
    EXPECT_LE(failures, 9) << Narrow(log);
}

// Windows has no descriptor limit for a process to lower.
#ifndef _WIN32
TEST_F(Server, AnAcceptWithoutDescriptorsLeftCostsOnlyAMoment)
{
    const WideText noDescriptorLine =
        Wide("ERROR: accept() failed with error = " + std::to_string(EMFILE) + "\r\n");
    std::string firstEcho;
    ClientResult next;
    WideText log = WithWorker([&](int port) {
        // The first client is accepted while descriptors are left; then,
        // while the worker waits for its message, they are used up.
        raw::Fd first = AcceptedClient(port);
        DescriptorsUsedUp used;
        ASSERT_TRUE(raw::Send(first.get(), Padded("first")));
        const bool failed = WaitForLog(noDescriptorLine);
        used.GiveBack();
        firstEcho = raw::Receive(first.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
        ASSERT_TRUE(failed) << Narrow(LogText(dialog_));
        next = ExchangeWhilePumping(raw::Family::V4, port, {Padded("next")});
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client"), 2));
    });
    EXPECT_EQ(firstEcho, Padded("first"));
    EXPECT_EQ(next.echo, Padded("next"));
    // The worker went on after the failure and served the next client.
    const size_t failedAt = log.find(noDescriptorLine);
    ASSERT_NE(failedAt, WideText::npos);
    EXPECT_EQ(Occurrences(log.substr(failedAt), ReceivedLine("127.0.0.1", "next") + EchoLine("next")), 1)
        << Narrow(log);
}
#endif

// ---- Set-up failures and the end of the worker ---------------------------------

TEST_F(Server, AHostNameIsNotANumericAddress)
{
    // Nor is this address of 256 characters, which the first 255 would be.
    const std::string longAddress = "127.0.0." + std::string(246, '0') + "19";
    WideText log = WithDialog([&](HWND) {
        for (const std::string& host : {std::string("localhost"), longAddress}) {
            worker_ = StartServerWorker(dialog_, host.c_str(), "0");
            EXPECT_TRUE(WorkerEnds());
            EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
            EXPECT_EQ(AppState.acceptedSocket.load(), INVALID_SOCKET);
        }
    });
    const std::string line = "ERROR: getaddrinfo failed with error " + std::to_string(EAI_NONAME) + "\r\n";
    EXPECT_EQ(Narrow(log), line + line);
}

// However it is spelt: the resolver reads a sign and leading white space,
// and would cut the number to 16 bits (4294967296 to 0).
const char* const PORTS_BEYOND_RANGE[] = {"65536", "110255", "+70000", " 70000", "4294967296", "-1"};

TEST_F(Server, APortBeyond65535IsRefusedRatherThanWrappedRound)
{
    WideText log = WithDialog([&](HWND) {
        for (const char* port : PORTS_BEYOND_RANGE) {
            worker_ = StartServerWorker(dialog_, "127.0.0.1", port);
            EXPECT_TRUE(WorkerEnds()) << port;
            EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET) << port;
        }
    });
    const std::string line = "ERROR: getaddrinfo failed with error " + std::to_string(EAI_SERVICE) + "\r\n";
    EXPECT_EQ(Occurrences(log, Wide(line)), static_cast<int>(std::size(PORTS_BEYOND_RANGE))) << Narrow(log);
    EXPECT_EQ(Occurrences(log, TEXT("\r\n")), static_cast<int>(std::size(PORTS_BEYOND_RANGE))) << Narrow(log);
}

// The ready line shows the port as typed, unless the system chose it (for
// an empty field or 0 in any spelling); a sign or spaces keep the number.
TEST_F(Server, TheReadyLineShowsThePortTypedOrTheOneTheSystemChose)
{
    // A port the system just gave out, and let go again.
    const int free = raw::LocalPort(raw::Fd(raw::Listen(raw::Family::V4)).get());
    ASSERT_GT(free, 0);
    const std::string spelled = " +" + std::to_string(free);
    for (const std::string& typed : {std::string(), std::string("+0"), std::string(" 00"), spelled}) {
        WithWorker([&](int port) {
            if (typed == spelled) {
                EXPECT_EQ(port, free);
            }
            EXPECT_EQ(Narrow(LogText(dialog_)), Narrow(ReadyLine(AppState.listenSocket.load(), "AF_INET",
                                                                 typed == spelled ? typed : std::to_string(port))));
        }, "127.0.0.1", typed.c_str());
    }
}

TEST_F(Server, APortInUseFailsToBindAndEndsTheWorker)
{
    raw::Fd holder(raw::Listen(raw::Family::V4));
    ASSERT_TRUE(holder.valid());
    const std::string port = std::to_string(raw::LocalPort(holder.get()));
    WideText log = WithDialog([&](HWND) {
        worker_ = StartServerWorker(dialog_, "127.0.0.1", port.c_str());
        EXPECT_TRUE(WorkerEnds());
        EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
        EXPECT_EQ(AppState.acceptedSocket.load(), INVALID_SOCKET);
    });
    EXPECT_EQ(Narrow(log), "ERROR: bind() failed with error = " + std::to_string(WSAEADDRINUSE) + "\r\n");
    // The holder's listener still works: the worker took nothing from it.
    raw::Fd probe(raw::Connect(raw::Family::V4, raw::LocalPort(holder.get()), TEST_LIMIT_MS));
    EXPECT_TRUE(probe.valid());
}

TEST_F(Server, AnEndedWorkerLetsGoOfItsPortAndLastConnection)
{
    raw::End endOfLast = raw::End::Open;
    ClientResult second;
    WideText log = WithWorker([&](int port) {
        raw::Fd last;
        ClientWhilePumping(port, [&](raw::Fd& connection) {
            raw::Send(connection.get(), Padded("first worker"));
            raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
            last = std::move(connection);
        });
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client")));
        // Only the listening socket goes: the worker's accept fails, and the
        // worker itself closes the connection it kept.
        ASSERT_NE(AppState.acceptedSocket.load(), INVALID_SOCKET);
        ReplaceAndCloseOld(AppState.listenSocket, INVALID_SOCKET);
        ASSERT_TRUE(WorkerEnds());
        EXPECT_TRUE(EndsWithStopLine(LogText(dialog_))) << Narrow(LogText(dialog_));
        EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
        EXPECT_EQ(AppState.acceptedSocket.load(), INVALID_SOCKET);
        endOfLast = raw::WaitForEnd(last.get(), TEST_LIMIT_MS);

        // A second worker binds the same port at once. (Windows may give
        // its socket the handle the first one had.)
        const std::string portText = std::to_string(port);
        const size_t firstWorkersLog = LogText(dialog_).size();
        ASSERT_EQ(StartWorker("127.0.0.1", portText.c_str()), port);
        EXPECT_EQ(Occurrences(LogText(dialog_).substr(firstWorkersLog),
                              ReadyLine(AppState.listenSocket.load(), "AF_INET", portText)),
                  1);
        // The port is the worker's alone: a socket that asks to share it is refused.
        BOOL exclusive = FALSE;
        int size = sizeof exclusive;
        EXPECT_EQ(getsockopt(AppState.listenSocket.load(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                             reinterpret_cast<char*>(&exclusive), &size),
                  0);
        EXPECT_TRUE(exclusive);
        EXPECT_FALSE(raw::Fd(raw::ListenSharing(raw::Family::V4, port)).valid());
        second = ExchangeWhilePumping(raw::Family::V4, port, {Padded("second worker")});
        ASSERT_TRUE(WaitForLog(TEXT("Send Echo to client"), 2));
    });
    EXPECT_EQ(endOfLast, raw::End::Closed);
    EXPECT_EQ(second.echo, Padded("second worker"));
    EXPECT_EQ(Occurrences(log, TEXT("ERROR: bind()")), 0) << Narrow(log);
}

}  // namespace
