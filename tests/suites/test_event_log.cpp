// The event log on the real dialog: texts land in call order at the end,
// are cut to one log text's room without breaking a character, show bad
// narrow text as U+FFFD, reach the log from the worker's side too, and the
// oldest lines go once the log is full. The Windows build runs these too,
// on the system's own edit control.
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
#include "tests/support/echo_support.h"

namespace {

using namespace std::chrono_literals;

class EventLog : public EchoTest {
protected:
    // Runs script on the real main dialog, with the log going to it.
    void WithDialog(const std::function<void(HWND)>& script)
    {
        RunMainDialog([&](HWND dialog) {
            AppState.dialog.store(dialog);
            script(dialog);
        });
    }
};

TEST_F(EventLog, LinesLandInCallOrderWithPlatformLineEnds)
{
    WithDialog([](HWND dialog) {
        AppendLog(TEXT("first %d\r\n"), 1);
        AppendLog(TEXT("second %hs\r\n"), "two");
        AppendLog(TEXT("Socket 0x%08x ready\r\n"), 0x104u);
        EXPECT_EQ(LogText(dialog), TEXT("first 1\r\nsecond two\r\nSocket 0x00000104 ready\r\n"));
    });
}

TEST_F(EventLog, TextWithoutALineEndIsContinuedOnTheSameLine)
{
    WithDialog([](HWND dialog) {
        AppendLog(TEXT("ERROR: Couldn't get resolve the server name/address!"));
        AppendLog(TEXT("Connect to server failed\r\n"));
        AppendLog(TEXT("next\r\n"));
        EXPECT_EQ(LogText(dialog),
                  TEXT("ERROR: Couldn't get resolve the server name/address!Connect to server failed\r\nnext\r\n"));
    });
}

TEST_F(EventLog, ALongTextIsCutToTheRoomOfOneLogText)
{
    WithDialog([](HWND dialog) {
        const std::string longText(300, 'a');
        AppendLog(TEXT("%hs\r\n"), longText.c_str());
        // 255 characters and no line end: the cut takes it.
        EXPECT_EQ(LogText(dialog), WideText(LOG_LINE_CHARS - 1, TEXT('a')));
    });
}

TEST_F(EventLog, TheCutNeverSplitsASurrogatePair)
{
    WithDialog([](HWND dialog) {
        // 254 characters and a pair: the pair would need places 255 and 256.
        const std::string straddling = std::string(254, 'b') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(TEXT("%hs"), straddling.c_str());
        EXPECT_EQ(LogText(dialog), WideText(254, TEXT('b')));
        SetDlgItemTextW(dialog, IDC_LOG, TEXT(""));
        // 253 characters and a pair fill the 255 places exactly.
        const std::string fitting = std::string(253, 'c') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(TEXT("%hs"), fitting.c_str());
        EXPECT_EQ(LogText(dialog), WideText(253, TEXT('c')) + TEXT("\U0001F600"));
    });
}

TEST_F(EventLog, InvalidNarrowTextShowsAsReplacementCharacters)
{
    WithDialog([](HWND dialog) {
        AppendLog(TEXT("Received from client(%hs) <---- %hs\r\n"), "127.0.0.1", "ab\xFF" "cd");
        AppendLog(TEXT("Send Echo to client ---->%hs\r\n"), "\xC3(");
        AppendLog(TEXT("Received Echo from server(%hs) <---- %hs\r\n"), "::1", "x\xF0\x9F\x98");
        EXPECT_EQ(LogText(dialog), TEXT("Received from client(127.0.0.1) <---- ab\uFFFDcd\r\n")
                                   TEXT("Send Echo to client ---->\uFFFD(\r\n")
                                   TEXT("Received Echo from server(::1) <---- x\uFFFD\r\n"));
    });
}

TEST_F(EventLog, CallsFromAnotherThreadReturnOnceTheirTextIsIn)
{
    WithDialog([](HWND dialog) {
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

TEST_F(EventLog, TheOldestWholeLinesGoFirstOnceTheLogIsFull)
{
    WithDialog([](HWND dialog) {
        SendDlgItemMessageW(dialog, IDC_LOG, EM_SETLINELIMIT, 5, 0);
        for (int i = 0; i < 8; ++i)
            AppendLog(TEXT("line %d\r\n"), i);
        // Four whole lines, nine tenths of the limit, and the empty one
        // after the last line end.
        EXPECT_EQ(LogText(dialog), TEXT("line 4\r\nline 5\r\nline 6\r\nline 7\r\n"));
        AppendLog(TEXT("line %d\r\n"), 8);
        EXPECT_EQ(LogText(dialog), TEXT("line 5\r\nline 6\r\nline 7\r\nline 8\r\n"));
    });
}

TEST_F(EventLog, AFullLogHoldsFarMoreThanAnEditControlsDefaultText)
{
    WithDialog([](HWND dialog) {
        // As the dialog sets it up: 2,000 lines of 47 characters are nearly
        // three times the 32,767 characters an edit control takes at first.
        SendDlgItemMessageW(dialog, IDC_LOG, EM_SETLINELIMIT, LOG_LINE_LIMIT, 0);
        const std::string filler(40, '.');
        for (int i = 0; i < 2000; ++i)
            AppendLog(TEXT("%04d %hs\r\n"), i, filler.c_str());
        const WideText log = LogText(dialog);
        EXPECT_EQ(log.size(), 2000u * 47);
        EXPECT_TRUE(log.ends_with(Wide("1999 " + filler + "\r\n")));
    });
}

TEST_F(EventLog, ACallAfterTheDialogEndedReturnsAtOnce)
{
    WithDialog([](HWND) {});
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
