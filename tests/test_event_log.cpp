// The event log on the real dialog: texts land in call order at the caret
// or over the selection, are cut to one log text's room without breaking a
// character, show bad narrow text as U+FFFD, and reach the log from the
// worker's side too.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/event_log.h"
#include "frontend/resource_tables.h"
#include "tests/dialog_harness.h"
#include "tests/echo_support.h"

namespace {

using namespace std::chrono_literals;

class EventLog : public EchoTest {
protected:
    // Runs script on the real main dialog, with the log going to it.
    void WithDialog(const std::function<void(HWND)>& script)
    {
        RunDialog(MAIN_DIALOG_TEMPLATE, [&](HWND dialog) {
            AppState.dialog.store(dialog);
            script(dialog);
        });
    }
};

TEST_F(EventLog, LinesLandInCallOrderWithPlatformLineEnds)
{
    WithDialog([](HWND dialog) {
        AppendLog(u"first %d\r\n", 1);
        AppendLog(u"second %hs\r\n", "two");
        AppendLog(u"Socket 0x%08x ready\r\n", 0x104u);
        EXPECT_EQ(LogText(dialog), u"first 1\r\nsecond two\r\nSocket 0x00000104 ready\r\n");
    });
}

TEST_F(EventLog, TextWithoutALineEndIsContinuedOnTheSameLine)
{
    WithDialog([](HWND dialog) {
        AppendLog(u"ERROR: Couldn't get resolve the server name/address!");
        AppendLog(u"Connect to server failed\r\n");
        AppendLog(u"next\r\n");
        EXPECT_EQ(LogText(dialog),
                  u"ERROR: Couldn't get resolve the server name/address!Connect to server failed\r\nnext\r\n");
    });
}

TEST_F(EventLog, TextGoesToTheEndWhereverTheUsersCaretAndSelectionAre)
{
    WithDialog([](HWND dialog) {
        AppendLog(u"alpha\r\nbeta\r\ngamma\r\n");
        SeeLog(dialog);
        auto* log = qobject_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        ASSERT_NE(log, nullptr);
        // The user selects "beta", to copy it, while the log goes on.
        QTextCursor cursor = log->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(10, QTextCursor::KeepAnchor);
        log->setTextCursor(cursor);
        AppendLog(u"B %d\r\n", 2);
        SeeLog(dialog);
        EXPECT_EQ(LogText(dialog), u"alpha\r\nbeta\r\ngamma\r\nB 2\r\n");
        EXPECT_EQ(log->textCursor().selectedText(), "beta");
        // A click inside a line leaves the caret there; nothing is spliced in.
        cursor.setPosition(2);
        log->setTextCursor(cursor);
        AppendLog(u"next\r\n");
        SeeLog(dialog);
        EXPECT_EQ(LogText(dialog), u"alpha\r\nbeta\r\ngamma\r\nB 2\r\nnext\r\n");
        EXPECT_EQ(log->textCursor().position(), 2);
        // What the user types still goes where the caret is.
        QTest::keyClicks(log, "X");
        EXPECT_EQ(LogText(dialog), u"alXpha\r\nbeta\r\ngamma\r\nB 2\r\nnext\r\n");
    });
}

TEST_F(EventLog, ALongTextIsCutToTheRoomOfOneLogText)
{
    WithDialog([](HWND dialog) {
        const std::string longText(300, 'a');
        AppendLog(u"%hs\r\n", longText.c_str());
        // 255 characters and no line end: the cut takes it.
        EXPECT_EQ(LogText(dialog), std::u16string(LOG_LINE_CHARS - 1, u'a'));
    });
}

TEST_F(EventLog, TheCutNeverSplitsASurrogatePair)
{
    WithDialog([](HWND dialog) {
        // 254 characters and a pair: the pair would need places 255 and 256.
        const std::string straddling = std::string(254, 'b') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(u"%hs", straddling.c_str());
        EXPECT_EQ(LogText(dialog), std::u16string(254, u'b'));
        SetDlgItemTextW(dialog, IDC_LOG, u"");
        // 253 characters and a pair fill the 255 places exactly.
        const std::string fitting = std::string(253, 'c') + "\xF0\x9F\x98\x80" + "tail";
        AppendLog(u"%hs", fitting.c_str());
        EXPECT_EQ(LogText(dialog), std::u16string(253, u'c') + u"\U0001F600");
    });
}

TEST_F(EventLog, InvalidNarrowTextShowsAsReplacementCharacters)
{
    WithDialog([](HWND dialog) {
        AppendLog(u"Received from client(%hs) <---- %hs\r\n", "127.0.0.1", "ab\xFF" "cd");
        AppendLog(u"Send Echo to client ---->%hs\r\n", "\xC3(");
        AppendLog(u"Received Echo from server(%hs) <---- %hs\r\n", "::1", "x\xF0\x9F\x98");
        EXPECT_EQ(LogText(dialog), u"Received from client(127.0.0.1) <---- ab\uFFFDcd\r\n"
                                   u"Send Echo to client ---->\uFFFD(\r\n"
                                   u"Received Echo from server(::1) <---- x\uFFFD\r\n");
    });
}

TEST_F(EventLog, CallsFromAnotherThreadReturnOnceTheirTextIsIn)
{
    WithDialog([](HWND dialog) {
        std::atomic<int> calls{0};
        bool ended = RunWhilePumping([&] {
            for (int i = 0; i < 3; ++i) {
                AppendLog(u"worker %d\r\n", i);
                calls.fetch_add(1);
            }
        });
        EXPECT_TRUE(ended);
        EXPECT_EQ(calls.load(), 3);
        EXPECT_EQ(LogText(dialog), u"worker 0\r\nworker 1\r\nworker 2\r\n");
    });
}

TEST_F(EventLog, ACallAfterTheDialogEndedReturnsAtOnce)
{
    WithDialog([](HWND) {});
    // AppState still names the dialog that has gone. Should the call hang,
    // the test fails and leaves the thread behind rather than wait for it.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread late([returned] {
        AppendLog(u"too late %d\r\n", 1);
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
