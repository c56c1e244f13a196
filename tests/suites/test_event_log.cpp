// The event log on the real dialog: texts land in call order at the end,
// are cut to one log text's room without breaking a character or losing
// their line end, show bad narrow text as U+FFFD, reach the log from the
// worker's side too without waiting for the dialog's thread, and the
// oldest lines go once the log box and the text waiting for it together
// are full, so the box always shows the newest lines unbroken, and no
// character of a peer's makes a line of its own there. The Windows build
// runs these too, on the system's own edit control.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/event_log.h"
#include "frontend/resource.h"
#include "platform/extensions.h"
#include "platform/utf8.h"
#include "tests/support/echo_support.h"
#include "transport/echo_message.h"
#include "transport/message_text.h"

namespace {

using namespace std::chrono_literals;

class EventLog : public EchoTest {};

TEST_F(EventLog, LinesLandInCallOrderWithPlatformLineEnds)
{
    RunLoggingDialog([](HWND dialog) {
        AppendLog(TEXT("first %d\r\n"), 1);
        AppendLog(TEXT("second %hs\r\n"), "two");
        AppendLog(TEXT("Socket 0x%08x ready\r\n"), 0x104u);
        EXPECT_EQ(LogText(dialog), TEXT("first 1\r\nsecond two\r\nSocket 0x00000104 ready\r\n"));
    });
}

TEST_F(EventLog, TextWithoutALineEndIsContinuedOnTheSameLine)
{
    RunLoggingDialog([](HWND dialog) {
        AppendLog(TEXT("ERROR: Couldn't get resolve the server name/address!"));
        AppendLog(TEXT("Connect to server failed\r\n"));
        AppendLog(TEXT("next\r\n"));
        EXPECT_EQ(LogText(dialog),
                  TEXT("ERROR: Couldn't get resolve the server name/address!Connect to server failed\r\nnext\r\n"));
    });
}

TEST_F(EventLog, ALongTextIsCutToTheRoomOfOneLogTextAndKeepsItsLineEnd)
{
    RunLoggingDialog([](HWND dialog) {
        const std::string longText(300, 'a');
        AppendLog(TEXT("Sent to server(%hs) ----> %hs\r\n"), longText.c_str(), "data");
        AppendLog(TEXT("next\r\n"));
        // 255 characters in all: the cut takes content, not the line end.
        EXPECT_EQ(LogText(dialog), TEXT("Sent to server(") + WideText(LOG_LINE_CHARS - 18, TEXT('a')) +
                                       TEXT("\r\nnext\r\n"));
    });
}

TEST_F(EventLog, TheCutNeverSplitsASurrogatePair)
{
    RunLoggingDialog([](HWND dialog) {
        // 254 characters and a pair: the pair would need places 255 and 256.
        const std::string straddling = std::string(254, 'b') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(TEXT("%hs"), straddling.c_str());
        EXPECT_EQ(LogText(dialog), WideText(254, TEXT('b')));
        SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
        // 253 characters and a pair fill the 255 places exactly.
        const std::string fitting = std::string(253, 'c') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(TEXT("%hs"), fitting.c_str());
        EXPECT_EQ(LogText(dialog), WideText(253, TEXT('c')) + TEXT("\U0001F600"));
        SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
        // With a line end kept, a pair at places 253 and 254 would split.
        AppendLog(TEXT("%hs\r\n"), straddling.substr(2).c_str());
        EXPECT_EQ(LogText(dialog), WideText(252, TEXT('b')) + TEXT("\r\n"));
    });
}

TEST_F(EventLog, InvalidNarrowTextShowsAsReplacementCharacters)
{
    RunLoggingDialog([](HWND dialog) {
        AppendLog(TEXT("Received from client(%hs) <---- %hs\r\n"), "127.0.0.1", "ab\xFF" "cd");
        AppendLog(TEXT("Send Echo to client ---->%hs\r\n"), "\xC3(");
        AppendLog(TEXT("Received Echo from server(%hs) <---- %hs\r\n"), "::1", "x\xF0\x9F\x98");
        EXPECT_EQ(LogText(dialog), TEXT("Received from client(127.0.0.1) <---- ab\uFFFDcd\r\n")
                                   TEXT("Send Echo to client ---->\uFFFD(\r\n")
                                   TEXT("Received Echo from server(::1) <---- x\uFFFD\r\n"));
    });
}

TEST_F(EventLog, CallsFromAnotherThreadShowInCallOrder)
{
    RunLoggingDialog([](HWND dialog) {
        std::atomic<int> calls{0};
        bool ended = RunWhilePumping([&] {
            for (int i = 0; i < 3; ++i) {
                AppendLog(TEXT("worker %d\r\n"), i);
                calls.fetch_add(1);
            }
        });
        EXPECT_TRUE(ended);
        EXPECT_EQ(calls.load(), 3);
        EXPECT_EQ(LogText(dialog), TEXT("worker 0\r\nworker 1\r\nworker 2\r\n"));
    });
}

// The lines from..to-1, as their log text.
WideText Lines(int from, int to)
{
    WideText lines;
    for (int i = from; i < to; ++i)
        lines += Wide("line " + std::to_string(i) + "\r\n");
    return lines;
}

TEST_F(EventLog, TheOldestWholeLinesGoFirstOnceTheLogIsFull)
{
    RunLoggingDialog([](HWND dialog) {
        // The lines and the empty one after the last line end fill the cap.
        for (int i = 0; i < LOG_LINE_LIMIT - 1; ++i)
            AppendLog(TEXT("line %d\r\n"), i);
        EXPECT_EQ(Occurrences(LogText(dialog), TEXT("\r\n")), LOG_LINE_LIMIT - 1);
        // The oldest go before the new line goes in, never after.
        const int most = MostLogLinesDuring(dialog, [dialog] {
            AppendLog(TEXT("line %d\r\n"), LOG_LINE_LIMIT - 1);
            FlushLog(dialog);
        });
        EXPECT_EQ(most, LOG_LINE_LIMIT);
        // Nine tenths of the cap stay, the newest.
        EXPECT_EQ(LogText(dialog), Lines(LOG_LINE_LIMIT / 10, LOG_LINE_LIMIT));
    });
}

// Logs lines from..to-1 from another thread while the dialog's thread runs
// no events: a worker that waited for it would never finish.
void LogWhileStalled(int from, int to)
{
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([=] {
        for (int i = from; i < to; ++i)
            AppendLog(TEXT("line %d\r\n"), i);
        finished->store(true);
    });
    for (int i = 0; i < 1000 && !finished->load(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(finished->load());
    worker.join();
}

TEST_F(EventLog, AfterAStallTheLogIsOneUnbrokenRunOfTheNewestLines)
{
    RunLoggingDialog([](HWND dialog) {
        // With lines already in the box: enough waiting lines that the
        // cap cuts into them only together with the box's, and so many
        // that they pass the cap while they wait.
        for (const int waiting : {LOG_LINE_LIMIT - 400, 3 * LOG_LINE_LIMIT + 123}) {
            SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
            for (int i = 0; i < 500; ++i)
                AppendLog(TEXT("shown %d\r\n"), i);
            ASSERT_EQ(Occurrences(LogText(dialog), TEXT("\r\n")), 500);
            LogWhileStalled(0, waiting);
            const WideText log = LogText(dialog);
            const int kept = Occurrences(log, TEXT("\r\n"));
            EXPECT_GE(kept, LOG_LINE_LIMIT * 9 / 10) << waiting;
            EXPECT_LT(kept, LOG_LINE_LIMIT) << waiting;
            EXPECT_EQ(log, Lines(waiting - kept, waiting)) << waiting;
        }
    });
}

TEST_F(EventLog, TextLoggedWhileTheDialogCannotBeToldShowsWithTheNext)
{
    RunLoggingDialog([](HWND dialog) {
        AppState.dialog.store(nullptr);
        AppendLog(TEXT("before\r\n"));
        AppState.dialog.store(dialog);
        AppendLog(TEXT("after\r\n"));
        EXPECT_TRUE(PumpUntil([&] { return LogBoxText(dialog) == TEXT("before\r\nafter\r\n"); }))
            << Narrow(LogBoxText(dialog));
    });
}

TEST_F(EventLog, TextWithoutLineEndsStaysWithinTheCharacterCap)
{
    RunLoggingDialog([](HWND dialog) {
        const std::string piece(LOG_LINE_CHARS - 6, 'x');
        const int PIECES = LOG_CHAR_LIMIT / static_cast<int>(piece.size()) + 100;
        AppendLog(TEXT("first line\r\n"));
        // Waiting text past the cap, then the log box past it.
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < PIECES; ++i)
                AppendLog(TEXT("%d %hs"), 1000 + i % 1000, piece.c_str());
            const WideText log = LogText(dialog);
            EXPECT_LE(log.size(), static_cast<size_t>(LOG_CHAR_LIMIT));
            EXPECT_GE(log.size(), static_cast<size_t>(LOG_CHAR_LIMIT * 9 / 10));
            EXPECT_EQ(log.find(TEXT("first line")), WideText::npos);
            EXPECT_TRUE(log.ends_with(Wide(std::to_string(1000 + (PIECES - 1) % 1000) + " " + piece)));
        }
    });
}

TEST_F(EventLog, AFullLogHoldsFarMoreThanAnEditControlsDefaultText)
{
    RunLoggingDialog([](HWND dialog) {
        // 2,000 lines of 47 characters are nearly three times the 32,767
        // characters an edit control takes at first.
        const std::string filler(40, '.');
        for (int i = 0; i < 2000; ++i)
            AppendLog(TEXT("%04d %hs\r\n"), i, filler.c_str());
        const WideText log = LogText(dialog);
        EXPECT_EQ(log.size(), 2000u * 47);
        EXPECT_TRUE(log.ends_with(Wide("1999 " + filler + "\r\n")));
    });
}

// Code points a peer's message cannot be tested with: surrogates are no
// text, and Wine 8's gdi32 crashes measuring Lao combining marks, which
// Windows draws.
bool Untestable(char32_t character)
{
    if (utf8::IsHighSurrogate(character) || utf8::IsLowSurrogate(character))
        return true;
    return character >= 0x0E80 && character <= 0x0EFF && UnderWine();
}

// Fills a message with the code points from *next on, as many as fit with
// the terminator, but NUL (its end) and the untestable.
EchoMessage MessageOfCodePoints(char32_t* next)
{
    EchoMessage message{};
    size_t used = 0;
    for (; *next <= 0x10FFFF; ++*next) {
        if (Untestable(*next))
            continue;
        if (used + static_cast<size_t>(utf8::EncodedLength(*next)) >= ECHO_MESSAGE_SIZE)
            break;
        utf8::Encode(*next, reinterpret_cast<char*>(message.bytes) + used);
        used += static_cast<size_t>(utf8::EncodedLength(*next));
    }
    return message;
}

// Every character a peer can send, shown in the log as the server shows
// it, makes one line per message in the log box, as the box itself counts
// its lines: no character is structure to it (a line or paragraph break,
// a frame mark of Qt's text document).
TEST_F(EventLog, NoCharacterFromAPeerMakesALineOfItsOwnInTheBox)
{
    RunLoggingDialog([](HWND dialog) {
        const int BATCH = 2000;
        for (char32_t next = 1; next <= 0x10FFFF;) {
            SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
            const char32_t first = next;
            int lines = 0;
            for (; lines < BATCH && next <= 0x10FFFF; ++lines) {
                const EchoMessage message = MessageOfCodePoints(&next);
                char text[MESSAGE_TEXT_SIZE];
                MessageText(&message, text);
                AppendLog(TEXT("Received from client(%hs) <---- %hs\r\n"), "peer", text);
            }
            FlushLog(dialog);
            // The lines, and the empty one after the last line end.
            ASSERT_EQ(SendDlgItemMessageW(dialog, IDC_LOG, EM_GETLINECOUNT, 0, 0), lines + 1)
                << "among U+" << std::hex << static_cast<unsigned>(first) << " to U+" << static_cast<unsigned>(next - 1);
        }
    });
}

TEST_F(EventLog, ACallAfterTheDialogEndedReturnsAtOnce)
{
    RunLoggingDialog([](HWND) {});
    // AppState still names the dialog that has gone. Should the call hang,
    // the test fails and leaves the thread behind rather than wait for it.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread late([returned] {
        AppendLog(TEXT("too late %d\r\n"), 1);
        returned->store(true);
    });
    for (int i = 0; i < 200 && !returned->load(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(returned->load());
    if (returned->load())
        late.join();
    else
        late.detach();
}

}  // namespace
