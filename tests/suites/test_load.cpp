// The server worker under load and abuse, on the real dialog with its log
// box capped as the program caps it: thousands of sequential clients, then
// misbehaving clients mixed with good ones, then clients that all arrive at
// once. Clients are raw loopback peers on threads of their own while the
// dialog's thread serves the worker's log calls. Every client that plays by
// the rules gets its exact echo; one that does not costs only its own
// connection and gets its own log lines; the process's descriptors and
// resident memory stay flat once the log box is full.
//
// QUILLO_LOAD_SCALE (0 < scale <= 1, default 1) lowers the client counts
// for slow builds; the good run never drops below what fills the log box
// and keeps it full for a while, so the memory comparison still holds.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <latch>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/event_log.h"
#include "frontend/resource_tables.h"
#include "platform/extensions.h"
#include "tests/support/dialog_run_linux.h"
#include "tests/support/echo_support.h"
#include "tests/support/raw_peer.h"
#include "transport/echo_message.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Sanitizers keep freed memory aside and map shadow memory of their own, so
// resident memory says nothing about the program there.
constexpr bool MEMORY_IS_THE_PROGRAMS = false;
#else
constexpr bool MEMORY_IS_THE_PROGRAMS = true;
#endif

// Sequential good exchanges, and cycles of misbehaving clients after them.
constexpr int GOOD_EXCHANGES = 10000;
constexpr int MIXED_CYCLES = 250;
// Fewest good exchanges at any scale: the log box fills at about 3,300
// (three lines each) and stays full well past the memory sample.
constexpr int FEWEST_GOOD_EXCHANGES = 6000;
constexpr int FEWEST_MIXED_CYCLES = 50;
// Clients per look at the log: each batch fits in the log box whole.
constexpr int GOOD_BATCH = 500;
constexpr int MIXED_BATCH_CYCLES = 25;
// Memory is first sampled once this many lines beyond the cap were logged,
// so the box has already dropped its oldest lines at least once.
constexpr int LINES_PAST_CAP = 2000;
// How far the samples may differ: the toolkit may open or close a few
// descriptors on its own, and the allocator keeps some slack.
constexpr int DESCRIPTOR_SLACK = 5;
constexpr long MEMORY_SLACK_KIB = 8 * 1024;
// The peer time-out a silent client meets; only those few clients get it.
constexpr DWORD SILENT_TIMEOUT_MS = 200;
// The whole load run, far beyond what it needs even in a sanitizer build,
// and below the test runner's own limit.
constexpr int LOAD_RUN_LIMIT_MS = 270000;

double LoadScale()
{
    const char* text = std::getenv("QUILLO_LOAD_SCALE");
    if (text == nullptr)
        return 1.0;
    char* end = nullptr;
    const double scale = std::strtod(text, &end);
    return end != text && scale > 0.0 && scale <= 1.0 ? scale : 1.0;
}

int Scaled(int count, int fewest) { return std::max(fewest, static_cast<int>(std::lround(count * LoadScale()))); }

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::string Padded(const std::string& text) { return text + std::string(ECHO_MESSAGE_SIZE - text.size(), '\0'); }

// ---- The log, line by line -------------------------------------------------

// Stands for "Accepted TCP connection from socket 0x" and a handle, whatever
// its value.
const std::u16string ACCEPTED = u"Accepted TCP connection from socket 0x";
const std::u16string SHORT_LINE = u"ERROR: Didn't get all the expected data from the client!";

std::u16string ReceivedLine(const std::string& text) { return Wide("Received from client(127.0.0.1) <---- " + text); }
std::u16string EchoLine(const std::string& text) { return Wide("Send Echo to client ---->" + text); }
std::u16string ReceiveErrorLine(int error)
{
    return Wide("ERROR: Couldn't receive the data! Error = " + std::to_string(error));
}

bool LineMatches(const std::u16string& line, const std::u16string& expected)
{
    if (expected != ACCEPTED)
        return line == expected;
    if (line.size() != ACCEPTED.size() + 8 || line.compare(0, ACCEPTED.size(), ACCEPTED) != 0)
        return false;
    return std::all_of(line.begin() + static_cast<std::ptrdiff_t>(ACCEPTED.size()), line.end(), [](char16_t c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

// The log's complete lines, without their "\r\n"; text after the last line
// end, if any, comes last.
std::vector<std::u16string> Lines(const std::u16string& log)
{
    std::vector<std::u16string> lines;
    size_t start = 0;
    for (size_t end = log.find(u"\r\n"); end != std::u16string::npos; end = log.find(u"\r\n", start)) {
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    if (start < log.size())
        lines.push_back(log.substr(start));
    return lines;
}

// Whether the log ends with exactly the expected lines.
::testing::AssertionResult EndsWithLines(const std::u16string& log, const std::vector<std::u16string>& expected)
{
    const std::vector<std::u16string> lines = Lines(log);
    if (!log.ends_with(u"\r\n"))
        return ::testing::AssertionFailure() << "the log ends inside a line: " << Narrow(lines.back());
    if (lines.size() < expected.size())
        return ::testing::AssertionFailure() << "the log has " << lines.size() << " lines, expected at least "
                                             << expected.size();
    const size_t offset = lines.size() - expected.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!LineMatches(lines[offset + i], expected[i]))
            return ::testing::AssertionFailure() << "line " << i << " of " << expected.size() << " from the end: \""
                                                 << Narrow(lines[offset + i]) << "\", expected \""
                                                 << Narrow(expected[i]) << "\"";
    }
    return ::testing::AssertionSuccess();
}

// ---- Clients ---------------------------------------------------------------

enum class Kind {
    Good,         // sends one message and reads its echo
    CloseAtOnce,  // connects and closes
    Short,        // sends 40 bytes and ends its side
    ResetPart,    // sends 30 bytes and resets
    Long,         // sends 150 bytes; only the first 100 are a message
    Trickle,      // sends its message 10 bytes every 10 ms
    Silent,       // sends nothing until the server gives up
};

struct Visitor {
    Kind kind;
    std::string text;  // what the message holds before its NUL padding
};

// The lines the worker logs for one client.
std::vector<std::u16string> ExpectedLines(const Visitor& visitor)
{
    switch (visitor.kind) {
    case Kind::Good:
    case Kind::Long:
    case Kind::Trickle:
        return {ACCEPTED, ReceivedLine(visitor.text), EchoLine(visitor.text)};
    case Kind::CloseAtOnce:
    case Kind::Short:
        return {ACCEPTED, SHORT_LINE};
    case Kind::ResetPart:
        return {ACCEPTED, ReceiveErrorLine(ECONNRESET)};
    case Kind::Silent:
        return {ACCEPTED, ReceiveErrorLine(ETIMEDOUT)};
    }
    return {};
}

const char* EndName(raw::End end)
{
    switch (end) {
    case raw::End::Closed: return "closed";
    case raw::End::Reset: return "reset";
    case raw::End::Data: return "more data";
    case raw::End::Open: return "still open";
    case raw::End::Failed: return "failed";
    }
    return "?";
}

// Sends the pieces, 10 ms apart, and reads one message; what went wrong, or empty.
std::string ExpectEcho(const raw::Fd& connection, const std::vector<std::string>& pieces, const std::string& echo)
{
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(10ms);
        if (!raw::Send(connection.get(), pieces[i]))
            return "sending piece " + std::to_string(i) + " failed";
    }
    const std::string got = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
    if (got != echo)
        return "echo of " + std::to_string(got.size()) + " bytes: \"" + got.substr(0, got.find('\0')) + "\"";
    return "";
}

// Waits for the server to drop the connection without an answer.
std::string ExpectDropped(const raw::Fd& connection)
{
    const raw::End end = raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
    return end == raw::End::Closed ? "" : std::string("the server's end was ") + EndName(end);
}

// One client's whole visit; what went wrong, or empty.
std::string Visit(const Visitor& visitor, int port)
{
    const std::string message = Padded(visitor.text);
    // The worker reads the time-out when it accepts, so a silent client
    // gets the short one while the clients before and after keep the long
    // one, which no scheduling delay on a loaded machine comes near.
    struct PeerTimeout {
        explicit PeerTimeout(DWORD ms) { AppState.peerTimeoutMs.store(ms); }
        ~PeerTimeout() { AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS); }
    };
    std::optional<PeerTimeout> shortened;
    if (visitor.kind == Kind::Silent)
        shortened.emplace(SILENT_TIMEOUT_MS);
    raw::Fd connection(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
    if (!connection.valid())
        return "could not connect";
    switch (visitor.kind) {
    case Kind::Good:
        return ExpectEcho(connection, {message}, message);
    case Kind::CloseAtOnce:
        return "";
    case Kind::Short:
        if (!raw::Send(connection.get(), message.substr(0, 40)))
            return "sending failed";
        raw::ShutdownSend(connection.get());
        return ExpectDropped(connection);
    case Kind::ResetPart:
        if (!raw::Send(connection.get(), message.substr(0, 30)))
            return "sending failed";
        raw::Reset(connection.release());
        return "";
    case Kind::Long:
        return ExpectEcho(connection, {message + std::string(50, 'L')}, message);
    case Kind::Trickle: {
        std::vector<std::string> pieces;
        for (size_t at = 0; at < message.size(); at += 10)
            pieces.push_back(message.substr(at, 10));
        return ExpectEcho(connection, pieces, message);
    }
    case Kind::Silent:
        return ExpectDropped(connection);
    }
    return "unknown kind";
}

// ---- The dialog and the worker ---------------------------------------------

const std::function<void(HWND)>* loadScript = nullptr;
HWND loadDialog = nullptr;

INT_PTR CALLBACK LoadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    // The log box is the program's log, as in the program's own dialog.
    if (LogDialogMessage(dialog, message, wParam))
        return TRUE;
    if (message != WM_INITDIALOG)
        return FALSE;
    loadDialog = dialog;
    QTimer::singleShot(0, [dialog] {
        (*loadScript)(dialog);
        EndDialog(dialog, 0);
    });
    return TRUE;
}

// Runs script on the main dialog with its log box capped at LOG_LINE_LIMIT
// lines. The dialog ends after the script, or after limitMs so that a
// broken run cannot hang; false in that case.
bool RunCappedDialog(const std::function<void(HWND)>& script, int limitMs)
{
    bool inTime = true;
    QTimer limit;
    limit.setSingleShot(true);
    limit.callOnTimeout([&] {
        inTime = false;
        EndDialog(loadDialog, -3);
    });
    limit.start(limitMs);
    loadScript = &script;
    DialogBoxIndirectParamW(nullptr, &MAIN_DIALOG_TEMPLATE, nullptr, LoadDialogProc, 0);
    limit.stop();
    loadScript = nullptr;
    loadDialog = nullptr;
    return inTime;
}

// A server worker on 127.0.0.1, port 0, for the length of a scope.
class RunningWorker {
public:
    explicit RunningWorker(HWND dialog) : dialog_(dialog)
    {
        worker_ = StartServerWorker(dialog, "127.0.0.1", "0");
        if (worker_ != nullptr &&
            PumpUntil([&] { return Occurrences(LogText(dialog_), u" ready for connection with ") == 1; }))
            port_ = ListeningPort();
    }
    ~RunningWorker()
    {
        if (worker_ != nullptr) {
            EXPECT_TRUE(StopServerWorker(worker_)) << "the worker did not end";
        }
    }
    RunningWorker(const RunningWorker&) = delete;
    RunningWorker& operator=(const RunningWorker&) = delete;

    int Port() const { return port_; }

    // Sends the clients one after another from a thread of their own, then
    // waits for the worker's last line and compares the log's newest lines
    // with all the lines expected. The last client must be a good one.
    ::testing::AssertionResult Serve(const std::vector<Visitor>& visitors)
    {
        if (visitors.empty() || visitors.back().kind != Kind::Good)
            return ::testing::AssertionFailure() << "a batch must end with a good client";
        std::string failure;
        size_t visited = 0;
        const bool inTime = RunWhilePumping(
            [&] {
                // A broken server fails each client only after a bounded
                // wait, so the batch stops at its first failure.
                for (; visited < visitors.size() && failure.empty(); ++visited)
                    failure = Visit(visitors[visited], port_);
            },
            LOAD_RUN_LIMIT_MS);
        if (!failure.empty())
            return ::testing::AssertionFailure() << "client " << visited - 1 << " (\"" << visitors[visited - 1].text
                                                 << "\"): " << failure;
        if (!inTime)
            return ::testing::AssertionFailure() << "the clients did not finish in time";
        std::vector<std::u16string> expected;
        for (const Visitor& visitor : visitors)
            for (std::u16string& line : ExpectedLines(visitor))
                expected.push_back(std::move(line));
        // The echo reached the client before its log line was written.
        const std::u16string last = expected.back() + u"\r\n";
        if (!PumpUntil([&] { return LogText(dialog_).ends_with(last); }))
            return ::testing::AssertionFailure() << "the log never showed \"" << Narrow(expected.back()) << "\"";
        linesLogged_ += expected.size();
        return EndsWithLines(LogText(dialog_), expected);
    }

    // Lines the worker logged for the clients so far.
    size_t LinesLogged() const { return linesLogged_; }

private:
    HWND dialog_;
    HANDLE worker_ = nullptr;
    int port_ = -1;
    size_t linesLogged_ = 0;
};

std::vector<Visitor> GoodClients(int first, int count)
{
    std::vector<Visitor> visitors;
    for (int i = first; i < first + count; ++i)
        visitors.push_back({Kind::Good, "load " + std::to_string(i)});
    return visitors;
}

// Cycles of four misbehaving clients, each followed by a good one; every
// 25th cycle adds a trickling client, every 50th a silent one, each also
// followed by a good one.
std::vector<Visitor> MixedClients(int firstCycle, int cycles)
{
    std::vector<Visitor> visitors;
    for (int cycle = firstCycle; cycle < firstCycle + cycles; ++cycle) {
        int n = 0;
        auto add = [&](Kind kind, const char* name) {
            visitors.push_back({kind, std::string(name) + " " + std::to_string(cycle) + "." + std::to_string(n++)});
        };
        add(Kind::CloseAtOnce, "gone");
        add(Kind::Good, "good");
        add(Kind::Short, "short");
        add(Kind::Good, "good");
        add(Kind::ResetPart, "reset");
        add(Kind::Good, "good");
        add(Kind::Long, "long");
        add(Kind::Good, "good");
        if (cycle % 25 == 12) {
            add(Kind::Trickle, "trickle");
            add(Kind::Good, "good");
        }
        if (cycle % 50 == 37) {
            add(Kind::Silent, "silent");
            add(Kind::Good, "good");
        }
    }
    return visitors;
}

class Load : public EchoTest {};

// ---- Sequential load and misbehaving clients ---------------------------------

TEST_F(Load, ThousandsOfClientsAndMisbehavingOnesLeaveTheServerServingAndFlat)
{
    const int goodExchanges = Scaled(GOOD_EXCHANGES, FEWEST_GOOD_EXCHANGES);
    const int mixedCycles = Scaled(MIXED_CYCLES, FEWEST_MIXED_CYCLES);
    int descriptorsAtThousand = -1, descriptorsAtEnd = -1;
    long memoryAtThousand = -1, memoryWhenFull = -1, memoryAtEnd = -1;
    size_t linesWhenFull = 0, linesAtEnd = 0;
    int misbehaving = 0, good = 0;
    const auto start = Clock::now();
    Clock::duration goodTime{}, mixedTime{};
    const bool inTime = RunCappedDialog(
        [&](HWND dialog) {
            RunningWorker worker(dialog);
            ASSERT_GT(worker.Port(), 0);

            for (int done = 0; done < goodExchanges;) {
                const int batch = std::min(GOOD_BATCH, goodExchanges - done);
                ASSERT_TRUE(worker.Serve(GoodClients(done, batch))) << "after " << done << " exchanges";
                done += batch;
                if (done == 1000) {
                    descriptorsAtThousand = raw::OpenDescriptors();
                    memoryAtThousand = ResidentKiB();
                }
                if (memoryWhenFull < 0 && worker.LinesLogged() >= LOG_LINE_LIMIT + LINES_PAST_CAP) {
                    // The box dropped its oldest lines, the ready line among them.
                    const std::u16string log = LogText(dialog);
                    ASSERT_EQ(Occurrences(log, u" ready for connection with "), 0);
                    ASSERT_LE(Occurrences(log, u"\r\n"), LOG_LINE_LIMIT);
                    memoryWhenFull = ResidentKiB();
                    linesWhenFull = worker.LinesLogged();
                }
            }
            good += goodExchanges;
            goodTime = Clock::now() - start;

            for (int cycle = 0; cycle < mixedCycles;) {
                const int cycles = std::min(MIXED_BATCH_CYCLES, mixedCycles - cycle);
                const std::vector<Visitor> visitors = MixedClients(cycle, cycles);
                ASSERT_TRUE(worker.Serve(visitors)) << "in the cycles from " << cycle;
                for (const Visitor& visitor : visitors)
                    (visitor.kind == Kind::Good ? good : misbehaving) += 1;
                cycle += cycles;
            }
            mixedTime = Clock::now() - start - goodTime;

            const std::u16string log = LogText(dialog);
            EXPECT_LE(Occurrences(log, u"\r\n"), LOG_LINE_LIMIT);
            descriptorsAtEnd = raw::OpenDescriptors();
            memoryAtEnd = ResidentKiB();
            linesAtEnd = worker.LinesLogged();
        },
        LOAD_RUN_LIMIT_MS);
    EXPECT_TRUE(inTime) << "the run passed its time limit";
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::cout << "[ load ] scale " << LoadScale() << ": " << goodExchanges << " good exchanges in "
              << seconds(goodTime) << " s, then " << misbehaving << " misbehaving clients among " << good - goodExchanges
              << " good ones in " << seconds(mixedTime) << " s; " << linesAtEnd << " lines logged\n"
              << "[ load ] descriptors: " << descriptorsAtThousand << " after 1000 exchanges, " << descriptorsAtEnd
              << " at the end\n"
              << "[ load ] resident KiB: " << memoryAtThousand << " after 1000 exchanges, " << memoryWhenFull
              << " with the log box full (" << linesWhenFull << " lines logged), " << memoryAtEnd << " at the end ("
              << (MEMORY_IS_THE_PROGRAMS ? "compared" : "not compared in a sanitizer build") << ")\n";
    if (HasFatalFailure())
        return;
    EXPECT_GT(descriptorsAtThousand, 0);
    EXPECT_NEAR(descriptorsAtEnd, descriptorsAtThousand, DESCRIPTOR_SLACK);
    EXPECT_GT(memoryWhenFull, 0);
    if (MEMORY_IS_THE_PROGRAMS) {
        EXPECT_LE(memoryAtEnd, memoryWhenFull + MEMORY_SLACK_KIB);
    }
}

// ---- Clients arriving together ---------------------------------------------

TEST_F(Load, ClientsArrivingTogetherAreServedOneAfterAnother)
{
    constexpr int CLIENTS = 8;
    std::vector<std::string> echoes(CLIENTS);
    std::u16string log;
    RunDialog(MAIN_DIALOG_TEMPLATE, [&](HWND dialog) {
        RunningWorker worker(dialog);
        ASSERT_GT(worker.Port(), 0);
        SetDlgItemTextW(dialog, IDC_LOG, u"");
        const int port = worker.Port();
        EXPECT_TRUE(RunWhilePumping([&] {
            std::latch start(CLIENTS);
            std::vector<std::thread> clients;
            for (int i = 0; i < CLIENTS; ++i) {
                clients.emplace_back([&, i] {
                    start.arrive_and_wait();
                    raw::Fd connection(raw::Connect(raw::Family::V4, port, TEST_LIMIT_MS));
                    raw::Send(connection.get(), Padded("together " + std::to_string(i)));
                    echoes[static_cast<size_t>(i)] = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
                });
            }
            for (std::thread& client : clients)
                client.join();
        }));
        EXPECT_TRUE(PumpUntil([&] { return Occurrences(LogText(dialog), u"Send Echo to client ---->") == CLIENTS; }));
        log = LogText(dialog);
    });
    for (int i = 0; i < CLIENTS; ++i)
        EXPECT_EQ(echoes[static_cast<size_t>(i)], Padded("together " + std::to_string(i))) << i;
    // Each connection's three lines come together, in whatever order the
    // clients got through.
    const std::vector<std::u16string> lines = Lines(log);
    ASSERT_EQ(lines.size(), 3u * CLIENTS) << Narrow(log);
    std::set<std::string> served;
    for (size_t at = 0; at < lines.size(); at += 3) {
        EXPECT_TRUE(LineMatches(lines[at], ACCEPTED)) << Narrow(lines[at]);
        const std::u16string prefix = ReceivedLine("together ");
        ASSERT_TRUE(lines[at + 1].starts_with(prefix)) << Narrow(lines[at + 1]);
        const std::string text = "together " + Narrow(lines[at + 1].substr(prefix.size()));
        EXPECT_EQ(lines[at + 2], EchoLine(text));
        served.insert(text);
    }
    EXPECT_EQ(served.size(), static_cast<size_t>(CLIENTS));
    for (int i = 0; i < CLIENTS; ++i)
        EXPECT_EQ(Occurrences(log, ReceivedLine("together " + std::to_string(i)) + u"\r\n"), 1) << i;
}

}  // namespace
