// The dialog manager on real widgets: the main dialog's template as built,
// keyboard handling, closing, and log insertion from another thread.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/event_log.h"
#include "frontend/resource_tables.h"
#include "platform/extensions.h"
#include "platform/linux/handles.h"
#include "tests/support/descriptors_used_up.h"
#include "tests/support/dialog_run_linux.h"
#include "tests/support/echo_support.h"

namespace {

const DialogTable& Main() { return MAIN_DIALOG_TEMPLATE; }

int CountOf(const DialogRun& run, int id)
{
    int count = 0;
    for (const DialogCommand& command : run.commands)
        count += command.id == id;
    return count;
}

TEST(MainDialog, BuildsEveryControlWithItsIdentifierKindAndText)
{
    RunDialog(Main(), [](HWND dialog) {
        QWidget* window = WidgetOfWindow(dialog);
        EXPECT_EQ(window->windowTitle(), "Windows CE TCP/IP Socket Communication Demo");
        EXPECT_EQ(qobject_cast<QPushButton*>(Widget(dialog, IDC_START))->text(), "Start");
        EXPECT_EQ(qobject_cast<QPushButton*>(Widget(dialog, IDC_SEND))->text(), "Send");
        EXPECT_TRUE(qobject_cast<QPushButton*>(Widget(dialog, IDC_SEND))->isDefault());
        EXPECT_FALSE(qobject_cast<QPushButton*>(Widget(dialog, IDC_START))->isDefault());
        auto* log = qobject_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        ASSERT_NE(log, nullptr);
        EXPECT_FALSE(log->isReadOnly());
        EXPECT_NE(qobject_cast<QPlainTextEdit*>(Widget(dialog, IDC_DATA)), nullptr);
        EXPECT_NE(qobject_cast<QLineEdit*>(Widget(dialog, IDC_HOST)), nullptr);
        EXPECT_NE(qobject_cast<QLineEdit*>(Widget(dialog, IDC_PORT)), nullptr);
        auto* role = qobject_cast<QComboBox*>(Widget(dialog, IDC_ROLE));
        ASSERT_NE(role, nullptr);
        EXPECT_FALSE(role->isEditable());

        QStringList labels;
        int frames = 0;
        for (QWidget* control : ControlsInTemplateOrder(dialog)) {
            if (auto* label = qobject_cast<QLabel*>(control))
                labels << label->text();
            frames += qobject_cast<QGroupBox*>(control) != nullptr;
        }
        EXPECT_EQ(labels, QStringList({"Step 4 : Establish TCP/IP Sockets Communication",
                                       "Step 1 : Select role of Server or Client",
                                       "Step 6 : Recieved data and error message would be showed here.",
                                       "Step 2 : Specify IP address", "Step 3 : Specify Port number",
                                       "Step 5 : If act as a role of Client, type data to send to server"}));
        EXPECT_EQ(frames, 6);
    });
}

QString AccessibleName(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

// What a screen reader announces: each input field by the step label
// above it, and the role list by the role chosen, labelled by its step
// label; the frames by nothing.
TEST(MainDialog, NamesFieldsAfterTheirStepLabels)
{
    RunDialog(Main(), [](HWND dialog) {
        SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"Server");
        SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"Client");
        SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 0, 0);
        QAccessibleInterface* role = QAccessible::queryAccessibleInterface(Widget(dialog, IDC_ROLE));
        EXPECT_EQ(role->role(), QAccessible::ComboBox);
        EXPECT_EQ(role->text(QAccessible::Name), "Server");
        EXPECT_EQ(role->text(QAccessible::Value), "Server");
        const auto labels = role->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), "Step 1 : Select role of Server or Client");
        const auto labelled = labels[0].first->relations(QAccessible::Labelled);
        ASSERT_EQ(labelled.size(), 1);
        EXPECT_EQ(labelled[0].first, role);
        SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 1, 0);
        EXPECT_EQ(role->text(QAccessible::Name), "Client");
        EXPECT_EQ(AccessibleName(Widget(dialog, IDC_HOST)), "Step 2 : Specify IP address");
        EXPECT_EQ(AccessibleName(Widget(dialog, IDC_PORT)), "Step 3 : Specify Port number");
        EXPECT_EQ(AccessibleName(Widget(dialog, IDC_DATA)),
                  "Step 5 : If act as a role of Client, type data to send to server");
        EXPECT_EQ(AccessibleName(Widget(dialog, IDC_LOG)),
                  "Step 6 : Recieved data and error message would be showed here.");
        EXPECT_EQ(AccessibleName(Widget(dialog, IDC_START)), "Start");

        // A frame named after its step would have the step said twice.
        int frames = 0;
        for (QWidget* control : ControlsInTemplateOrder(dialog)) {
            if (qobject_cast<QGroupBox*>(control) == nullptr)
                continue;
            ++frames;
            EXPECT_EQ(AccessibleName(control), "");
        }
        EXPECT_EQ(frames, 6);
    });
}

// Every pair of controls keeps the order of their template coordinates, and
// every control lies inside the dialog.
TEST(MainDialog, PlacesControlsAsTheTemplateDoes)
{
    RunDialog(Main(), [](HWND dialog) {
        QWidget* window = WidgetOfWindow(dialog);
        QList<QWidget*> widgets = ControlsInTemplateOrder(dialog);
        ASSERT_EQ(widgets.size(), Main().count);
        for (int i = 0; i < Main().count; ++i) {
            const DialogItem& a = Main().items[i];
            QRect ra = widgets[i]->geometry();
            EXPECT_TRUE(window->rect().contains(ra)) << i;
            for (int j = 0; j < Main().count; ++j) {
                const DialogItem& b = Main().items[j];
                QRect rb = widgets[j]->geometry();
                if (a.x < b.x) {
                    EXPECT_LE(ra.x(), rb.x()) << i << " " << j;
                }
                if (a.y < b.y) {
                    EXPECT_LE(ra.y(), rb.y()) << i << " " << j;
                }
            }
        }
        // The dialog's size follows its font: 345 x 213 dialog units.
        QFontMetrics metrics(window->font());
        EXPECT_NEAR(window->height(), 213 * metrics.height() / 8, 1);
        EXPECT_GT(window->width(), window->height());
    });
}

TEST(MainDialog, TabOrderIsTemplateOrder)
{
    std::vector<int> visited;
    RunDialog(Main(), [&](HWND dialog) {
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_START));
        for (int i = 0; i < 7; ++i) {
            Press(Qt::Key_Tab);
            visited.push_back(GetFocus() ? GetDlgCtrlID(GetFocus()) : 0);
        }
    });
    EXPECT_EQ(visited, std::vector<int>({IDC_LOG, IDC_DATA, IDC_SEND, IDC_PORT, IDC_HOST, IDC_ROLE,
                                         IDC_START}));
}

TEST(MainDialog, EnterInTheDataFieldAndTheLogPressesSend)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) {
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_DATA));
        Press(Qt::Key_Enter, Qt::NoModifier, Widget(dialog, IDC_LOG));
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_HOST));
        // Enter never becomes a line break in those fields.
        EXPECT_EQ(static_cast<QPlainTextEdit*>(Widget(dialog, IDC_DATA))->toPlainText(), "");
        EXPECT_EQ(static_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG))->toPlainText(), "");
    });
    EXPECT_EQ(CountOf(run, IDC_SEND), 3);
    EXPECT_EQ(run.commands.size(), 3u);
}

TEST(MainDialog, EnterOnAFocusedButtonPressesThatButton)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) {
        SetFocus(GetDlgItem(dialog, IDC_START));
        Press(Qt::Key_Return);
    });
    ASSERT_EQ(run.commands.size(), 1u);
    EXPECT_EQ(run.commands[0].id, IDC_START);
}

TEST(MainDialog, CtrlEnterBreaksTheLineInTheDataField)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) {
        QWidget* data = Widget(dialog, IDC_DATA);
        QTest::keyClicks(data, "ab");
        Press(Qt::Key_Return, Qt::ControlModifier, data);
        QTest::keyClicks(data, "c");
        WCHAR text[16];
        EXPECT_EQ(GetDlgItemTextW(dialog, IDC_DATA, text, 16), 5u);
        EXPECT_EQ(std::u16string(text), u"ab\r\nc");
    });
    EXPECT_EQ(CountOf(run, IDC_SEND), 0);
}

TEST(MainDialog, ADisabledSendIsNeverPressed)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) {
        EnableWindow(GetDlgItem(dialog, IDC_SEND), FALSE);
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_LOG));
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_HOST));
        QTest::mouseClick(Widget(dialog, IDC_SEND), Qt::LeftButton);
        static_cast<QPushButton*>(Widget(dialog, IDC_SEND))->click();
    });
    EXPECT_EQ(CountOf(run, IDC_SEND), 0);
}

TEST(MainDialog, ADisabledFieldTakesNoInput)
{
    RunDialog(Main(), [](HWND dialog) {
        EnableWindow(GetDlgItem(dialog, IDC_DATA), FALSE);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DATA)));
        QTest::mouseClick(Widget(dialog, IDC_DATA), Qt::LeftButton);
        QTest::keyClicks(Widget(dialog, IDC_DATA), "typed");
        WCHAR text[16];
        EXPECT_EQ(GetDlgItemTextW(dialog, IDC_DATA, text, 16), 0u);
        EXPECT_NE(GetFocus(), GetDlgItem(dialog, IDC_DATA));
    });
}

TEST(MainDialog, EscapeAndTheCloseBoxSendCancelWithoutClosing)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) {
        Press(Qt::Key_Escape);
        WidgetOfWindow(dialog)->close();
        // Neither request ended the dialog behind the procedure's back.
        EXPECT_TRUE(WidgetOfWindow(dialog)->isVisible());
    });
    ASSERT_EQ(run.commands.size(), 2u);
    EXPECT_EQ(run.commands[0].id, IDCANCEL);
    EXPECT_EQ(run.commands[1].id, IDCANCEL);
    EXPECT_EQ(run.result, -2);
}

TEST(MainDialog, EndDialogGivesItsValueToTheCaller)
{
    DialogRun run = RunDialog(Main(), [](HWND dialog) { EndDialog(dialog, 42); });
    EXPECT_EQ(run.result, 42);
    EXPECT_EQ(WidgetOfWindow(run.dialog), nullptr);
}

TEST(MainDialog, TextCallsReadWriteAndBoundFields)
{
    RunDialog(Main(), [](HWND dialog) {
        EXPECT_TRUE(SetDlgItemTextW(dialog, IDC_HOST, u"host.example"));
        WCHAR text[40];
        EXPECT_EQ(GetDlgItemTextW(dialog, IDC_HOST, text, 40), 12u);
        EXPECT_EQ(std::u16string(text), u"host.example");
        EXPECT_EQ(GetDlgItemTextW(dialog, IDC_HOST, text, 5), 4u);
        EXPECT_EQ(std::u16string(text), u"host");
        // A cut never leaves half a surrogate pair.
        SetDlgItemTextW(dialog, IDC_HOST, u"ab\U0001F600");
        EXPECT_EQ(GetDlgItemTextW(dialog, IDC_HOST, text, 4), 2u);
        EXPECT_EQ(std::u16string(text), u"ab");
        EXPECT_EQ(GetDlgItemTextW(dialog, 9999, text, 40), 0u);
        EXPECT_EQ(text[0], 0);
    });
}

TEST(MainDialog, RoleListKeepsInsertionOrderDespiteItsSortedStyle)
{
    RunDialog(Main(), [](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"Server"), 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_INSERTSTRING, (WPARAM)-1, (LPARAM)u"Client"), 1);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(static_cast<QComboBox*>(Widget(dialog, IDC_ROLE))->itemText(0), "Server");
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 7, 0), CB_ERR);
    });
}

TEST(LogInsertion, ReplacesTheSelectionOrInsertsAtTheCaret)
{
    RunDialog(Main(), [](HWND dialog) {
        auto* log = static_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        SendDlgItemMessageW(dialog, IDC_LOG, EM_REPLACESEL, FALSE, (LPARAM)u"one\r\n");
        SendDlgItemMessageW(dialog, IDC_LOG, EM_REPLACESEL, FALSE, (LPARAM)u"two");
        SendDlgItemMessageW(dialog, IDC_LOG, EM_REPLACESEL, FALSE, (LPARAM)u" more\r\n");
        EXPECT_EQ(LogText(dialog), u"one\r\ntwo more\r\n");
        QTextCursor cursor = log->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(3, QTextCursor::KeepAnchor);
        log->setTextCursor(cursor);
        SendDlgItemMessageW(dialog, IDC_LOG, EM_REPLACESEL, FALSE, (LPARAM)u"ONE!");
        EXPECT_EQ(LogText(dialog), u"ONE!\r\ntwo more\r\n");
        EXPECT_EQ(log->textCursor().position(), 4);
        EXPECT_FALSE(log->document()->isUndoAvailable());
    });
}

std::u16string Line(const std::u16string& prefix, int i)
{
    return prefix + QString::number(i).toStdU16String() + u"\r\n";
}

// Log texts from both threads land in call order: a line the dialog's
// thread logs after it saw a worker's call return comes after that one.
class LogOrder : public EchoTest {};

TEST_F(LogOrder, TextsFromBothThreadsLandInCallOrder)
{
    const int LINES = 2000;
    std::atomic<int> returned{0};
    std::vector<int> mine;  // for each of the dialog's lines, the worker's lines it saw returned
    RunLoggingDialog([&](HWND dialog) {
        std::thread worker([&] {
            for (int i = 0; i < LINES; ++i) {
                AppendLog(u"worker %d\r\n", i);
                returned.store(i + 1);
            }
        });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (returned.load() < LINES && std::chrono::steady_clock::now() < deadline) {
            mine.push_back(returned.load());
            AppendLog(u"dialog %d\r\n", static_cast<int>(mine.size()) - 1);
            QTest::qWait(1);
        }
        worker.join();
        const std::u16string log = LogText(dialog);
        size_t last = 0;
        for (int i = 0; i < LINES; ++i) {
            const size_t at = log.find(Line(u"worker ", i));
            ASSERT_NE(at, std::u16string::npos) << i;
            ASSERT_GE(at, last) << i;
            last = at;
        }
        for (size_t d = 0; d < mine.size(); ++d) {
            const size_t at = log.find(Line(u"dialog ", static_cast<int>(d)));
            ASSERT_NE(at, std::u16string::npos) << d;
            if (mine[d] > 0) {
                EXPECT_GT(at, log.find(Line(u"worker ", mine[d] - 1))) << d;
            }
        }
    });
}

TEST(LogInsertion, ACallWaitingForTheDialogsThreadReturnsOnceTheDialogHasEnded)
{
    HWND ended = nullptr;
    std::thread blocked;
    std::atomic<bool> blockedReturned{false};
    RunDialog(Main(), [&](HWND dialog) {
        ended = dialog;
        // A call made while the dialog's thread is busy is still waiting
        // when the dialog ends; ending it releases the caller.
        blocked = std::thread([&, dialog] {
            SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0);
            blockedReturned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EndDialog(dialog, 0);
    });
    auto start = std::chrono::steady_clock::now();
    blocked.join();
    EXPECT_TRUE(blockedReturned.load());
    std::thread after([&] {
        EXPECT_EQ(SendDlgItemMessageW(ended, IDC_LOG, EM_APPENDTEXT, 0, (LPARAM)u"gone\r\n"), 0);
        EXPECT_EQ(SendDlgItemMessageW(ended, IDC_LOG, WM_GETTEXTLENGTH, 0, 0), 0);
    });
    after.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(LogOrder, ADialogMadeWithoutADescriptorToSpareStillHearsFromTheWorker)
{
    // The dialog's channel then has no wake descriptor of its own.
    DescriptorsUsedUp used;
    RunLoggingDialog([&](HWND dialog) {
        used.GiveBack();
        EXPECT_TRUE(RunWhilePumping([] { AppendLog(u"from the worker\r\n"); }));
        EXPECT_TRUE(PumpUntil([&] { return LogBoxText(dialog) == u"from the worker\r\n"; }));
        // A call that waits for the dialog's thread is answered too.
        LRESULT length = 0;
        EXPECT_TRUE(RunWhilePumping([&] { length = SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0); }));
        EXPECT_EQ(length, 17);
    });
}

void Append(HWND dialog, const std::u16string& text)
{
    SendDlgItemMessageW(dialog, IDC_LOG, EM_APPENDTEXT, 0, (LPARAM)text.c_str());
}

QString FirstShownLine(QPlainTextEdit* log)
{
    return log->document()->findBlockByNumber(log->verticalScrollBar()->value()).text();
}

TEST(LogAppend, GoesToTheEndWhereverTheUsersCaretAndSelectionAre)
{
    RunDialog(Main(), [](HWND dialog) {
        Append(dialog, u"alpha\r\nbeta\r\ngamma\r\n");
        auto* log = static_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        // The user selects "beta", to copy it, while the log goes on.
        QTextCursor cursor = log->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(10, QTextCursor::KeepAnchor);
        log->setTextCursor(cursor);
        Append(dialog, u"B 2\r\n");
        EXPECT_EQ(LogText(dialog), u"alpha\r\nbeta\r\ngamma\r\nB 2\r\n");
        EXPECT_EQ(log->textCursor().selectedText(), "beta");
        // A click inside a line leaves the caret there; nothing is spliced in.
        cursor.setPosition(2);
        log->setTextCursor(cursor);
        Append(dialog, u"next\r\n");
        EXPECT_EQ(LogText(dialog), u"alpha\r\nbeta\r\ngamma\r\nB 2\r\nnext\r\n");
        EXPECT_EQ(log->textCursor().position(), 2);
        // What the user types still goes where the caret is.
        QTest::keyClicks(log, "X");
        EXPECT_EQ(LogText(dialog), u"alXpha\r\nbeta\r\ngamma\r\nB 2\r\nnext\r\n");
    });
}

// The log's cap on the real widget, with the caret, the selection and the
// view where the user put them.
class LogCap : public EchoTest {
protected:
    static void LogLines(HWND dialog, int from, int to)
    {
        for (int i = from; i < to; ++i)
            AppendLog(u"line %d\r\n", i);
        FlushLog(dialog);
    }
};

TEST_F(LogCap, KeepsTheNewestLinesWhereverTheCaretAndSelectionAre)
{
    RunLoggingDialog([](HWND dialog) {
        auto* log = static_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        // The lines and the empty one after the last line end fill the cap.
        LogLines(dialog, 0, LOG_LINE_LIMIT - 1);
        EXPECT_TRUE(LogText(dialog).starts_with(u"line 0\r\n"));
        log->setTextCursor(QTextCursor(log->document()));  // caret at the very start
        LogLines(dialog, LOG_LINE_LIMIT - 1, LOG_LINE_LIMIT);
        // The oldest tenth went (the exact rule is test_event_log's).
        EXPECT_TRUE(LogText(dialog).starts_with(u"line 1000\r\n"));
        EXPECT_EQ(log->textCursor().position(), 0);
        // A selection in a line that stays keeps its text selected.
        QTextCursor cursor(log->document()->findBlockByNumber(5000));
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        log->setTextCursor(cursor);
        LogLines(dialog, LOG_LINE_LIMIT, LOG_LINE_LIMIT + 1000);
        EXPECT_TRUE(LogText(dialog).starts_with(u"line 2000\r\n"));
        EXPECT_EQ(log->textCursor().selectedText(), "line 6000");
    });
}

TEST_F(LogCap, KeepsTheReadersViewButFollowsTheEnd)
{
    RunLoggingDialog([](HWND dialog) {
        auto* log = static_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
        LogLines(dialog, 0, 3000);
        QScrollBar* bar = log->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum());  // followed the end so far

        bar->setValue(bar->maximum() - 40);
        QString reading = FirstShownLine(log);
        LogLines(dialog, 3000, LOG_LINE_LIMIT + 500);
        // The oldest lines were dropped above, yet the same line is in view.
        EXPECT_TRUE(LogText(dialog).starts_with(u"line 1500\r\n"));
        EXPECT_EQ(FirstShownLine(log), reading);
        EXPECT_LT(bar->value(), bar->maximum());

        bar->setValue(bar->maximum());
        LogLines(dialog, LOG_LINE_LIMIT + 500, LOG_LINE_LIMIT + 505);
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_TRUE(LogText(dialog).ends_with(u"line 10504\r\n"));
    });
}

TEST(MessageBox, ShowsTextAndCaptionAndIsDismissed)
{
    QString seenText, seenCaption;
    int answer = 0;
    RunDialog(Main(), [&](HWND dialog) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seenText = box->text();
            seenCaption = box->windowTitle();
            EXPECT_EQ(box->buttons().size(), 1);
            box->button(QMessageBox::Ok)->click();
        });
        answer = MessageBoxW(dialog, u"Get Local IP Failed", u"LAN info", MB_OK);
    });
    EXPECT_EQ(seenText, "Get Local IP Failed");
    EXPECT_EQ(seenCaption, "LAN info");
    EXPECT_EQ(answer, IDOK);
}

}  // namespace
