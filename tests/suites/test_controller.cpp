// The main dialog with its real procedure, driven as a user would: focus,
// keys and clicks, with test interface lists for the local defaults.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <string>

#include "core/dialog_controller.h"
#include "frontend/main_window.h"
#include "frontend/resource_tables.h"
#include "platform/linux/handles.h"
#include "tests/support/dialog_run_linux.h"
#include "tests/support/echo_support.h"
#include "tests/support/fake_interfaces.h"
#include "tests/support/raw_peer.h"
#include "transport/echo_message.h"

namespace {

using Clock = std::chrono::steady_clock;

const FakeInterface LOOPBACK = {"lo", 1, true, true, {"127.0.0.1"}};
const FakeInterface ETHERNET = {"eth0", 2, true, false, {"192.0.2.5"}};

bool DialogReady(HWND dialog)
{
    QWidget* window = WidgetOfWindow(dialog);
    return window != nullptr && window->isActiveWindow() && QApplication::activeModalWidget() == window;
}

// Starts the program's main window, which runs the main dialog. script runs
// once the dialog is the active window; a dialog the script leaves open is
// closed with Escape. Returns whether a main window outlived the dialog.
BOOL RunMain(const std::function<void(HWND)>& script)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(TEST_LIMIT_MS);
    std::function<void()> attempt = [&] {
        HWND dialog = AppState.dialog.load();
        if (!DialogReady(dialog) && Clock::now() < deadline) {
            QTimer::singleShot(10, attempt);
            return;
        }
        script(dialog);
        if (WidgetOfWindow(dialog) != nullptr && WidgetOfWindow(dialog)->isVisible())
            Press(Qt::Key_Escape, Qt::NoModifier, WidgetOfWindow(dialog));
    };
    QTimer::singleShot(0, attempt);
    return CreateMainWindow(reinterpret_cast<HINSTANCE>(const_cast<ResourceTable*>(&PROGRAM_MODULE)), SW_SHOWDEFAULT);
}

void Click(HWND dialog, int id)
{
    QTest::mouseClick(Widget(dialog, id), Qt::LeftButton);
}

void SelectRole(HWND dialog, int role)
{
    auto* roles = static_cast<QComboBox*>(Widget(dialog, IDC_ROLE));
    roles->setFocus();
    Press(role == ROLE_CLIENT ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier, roles);
    ASSERT_EQ(roles->currentIndex(), role);
}

void TypeInto(HWND dialog, int id, const QString& text)
{
    QWidget* field = Widget(dialog, id);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

// Starts the server role on loopback, on a port the system picks, and
// waits until it listens.
void StartServer(HWND dialog)
{
    TypeInto(dialog, IDC_HOST, "127.0.0.1");
    TypeInto(dialog, IDC_PORT, "0");
    Click(dialog, IDC_START);
    ASSERT_TRUE(PumpUntil([] { return ListeningPort() > 0; }));
}

// Chooses the client role and starts it on host and port, as typed.
void StartClient(HWND dialog, const QString& host, const QString& port)
{
    SelectRole(dialog, ROLE_CLIENT);
    TypeInto(dialog, IDC_HOST, host);
    TypeInto(dialog, IDC_PORT, port);
    Click(dialog, IDC_START);
}

std::u16string FieldText(HWND dialog, int id)
{
    WCHAR text[200];
    GetDlgItemTextW(dialog, id, text, 200);
    return text;
}

class Controller : public EchoTest {
protected:
    void SetUp() override
    {
        EchoTest::SetUp();
        UseInterfaces({LOOPBACK, ETHERNET});
    }
    void TearDown() override
    {
        RestoreInterfaces();
        EchoTest::TearDown();
    }

    // Takes the worker's handle from the dialog, so that the test can wait
    // for the worker after the dialog has closed its sockets.
    HANDLE TakeWorker()
    {
        HANDLE worker = AppState.serverThread;
        AppState.serverThread = nullptr;
        return worker;
    }
};

TEST_F(Controller, OpensInTheServerRoleWithDefaultsAndFocusOnStart)
{
    BOOL mainWindow = RunMain([](HWND dialog) {
        auto* roles = static_cast<QComboBox*>(Widget(dialog, IDC_ROLE));
        ASSERT_EQ(roles->count(), 2);
        EXPECT_EQ(roles->itemText(ROLE_SERVER), "Server");
        EXPECT_EQ(roles->itemText(ROLE_CLIENT), "Client");
        EXPECT_EQ(roles->currentIndex(), ROLE_SERVER);
        EXPECT_EQ(FieldText(dialog, IDC_HOST), u"192.0.2.5");
        EXPECT_EQ(FieldText(dialog, IDC_PORT), u"8000");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_START));
        EXPECT_EQ(LogText(dialog), u"");
        // No empty main window shows beside the dialog.
        int shown = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            shown += window->isVisible();
        EXPECT_EQ(shown, 1);
    });
    // The main window ends with its dialog, so the program ends, with 0.
    EXPECT_FALSE(mainWindow);
    EXPECT_EQ(MainWindowExitCode(), 0);
}

TEST_F(Controller, AnEntryThatCannotMakeItsDialogExitsWithOne)
{
    const ResourceEntry strings[] = {{RT_STRING, IDS_TITLE, u"Quillomarde"},
                                     {RT_STRING, IDS_WINDOW_CLASS, u"QUILLOMARDE"}};
    const ResourceTable withoutDialog = {strings, 2};
    EXPECT_EQ(wWinMain(reinterpret_cast<HINSTANCE>(const_cast<ResourceTable*>(&withoutDialog)), nullptr, nullptr,
                       SW_SHOWDEFAULT),
              1);
}

TEST_F(Controller, WithoutAnAdapterShowsTheMessageAndLeavesFieldsEmpty)
{
    UseInterfaces({LOOPBACK});
    QString text, caption;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        caption = box->windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    RunMain([](HWND dialog) {
        EXPECT_EQ(FieldText(dialog, IDC_HOST), u"");
        EXPECT_EQ(FieldText(dialog, IDC_PORT), u"");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_START)));
    });
    EXPECT_EQ(text, "Get Local IP Failed");
    EXPECT_EQ(caption, "LAN info");
}

TEST_F(Controller, StartTwiceAsServerLogsTwiceAndKeepsOneWorker)
{
    HANDLE worker = nullptr;
    RunMain([&](HWND dialog) {
        ASSERT_NO_FATAL_FAILURE(StartServer(dialog));
        HANDLE first = AppState.serverThread;
        Click(dialog, IDC_START);
        PumpUntil([] { return false; }, 100);
        EXPECT_EQ(AppState.serverThread, first);
        std::u16string log = LogText(dialog);
        EXPECT_EQ(Occurrences(log, u"======== Server Starts ========\r\n"), 2);
        EXPECT_EQ(Occurrences(log, u"ready for connection"), 1);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SEND)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DATA)));
        worker = TakeWorker();
    });
    // Closing the dialog closed the worker's sockets, so it ends promptly.
    EXPECT_TRUE(WaitForWorkerEnd(worker, 1000));
}

TEST_F(Controller, SendStaysUnreachableAfterTheServerRoleStarted)
{
    HANDLE worker = nullptr;
    RunMain([&](HWND dialog) {
        ASSERT_NO_FATAL_FAILURE(StartServer(dialog));
        SelectRole(dialog, ROLE_CLIENT);
        Click(dialog, IDC_START);
        std::u16string before = LogText(dialog);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SEND)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DATA)));
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_LOG));
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_HOST));
        Click(dialog, IDC_SEND);
        static_cast<QPushButton*>(Widget(dialog, IDC_SEND))->click();
        PumpUntil([] { return false; }, 100);
        EXPECT_EQ(LogText(dialog), before);
        EXPECT_TRUE(before.ends_with(u"======== Client Starts ========\r\n"));
        worker = TakeWorker();
    });
    EXPECT_TRUE(WaitForWorkerEnd(worker, 1000));
}

TEST_F(Controller, SendBeforeAnyStartOnlyLogsTheResolutionError)
{
    RunMain([](HWND dialog) {
        TypeInto(dialog, IDC_DATA, "hello");
        Click(dialog, IDC_SEND);
        EXPECT_EQ(LogText(dialog), u"ERROR: Couldn't get resolve the server name/address!");
        EXPECT_EQ(FieldText(dialog, IDC_DATA), u"");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_DATA));
        EXPECT_EQ(AppState.clientSocket.load(), INVALID_SOCKET);
    });
}

TEST_F(Controller, SendToAPortWhereNothingListensFailsToConnect)
{
    raw::Fd idle(raw::BindOnly(raw::Family::V4));
    ASSERT_TRUE(idle.valid());
    RunMain([&](HWND dialog) {
        StartClient(dialog, "127.0.0.1", QString::number(raw::LocalPort(idle.get())));
        TypeInto(dialog, IDC_DATA, "hello");
        Click(dialog, IDC_SEND);
        EXPECT_EQ(LogText(dialog), u"======== Client Starts ========\r\nConnect to server failed\r\n");
        EXPECT_EQ(AppState.clientSocket.load(), INVALID_SOCKET);
    });
}

TEST_F(Controller, StartTakesTheAddressAndPortWhole)
{
    // 256 characters and no address; cut to 255 it would read as 127.0.0.1
    // (a last part of 0...01 is octal 1), and cut to 39 the port as 0.
    const std::string address = "127.0.0." + std::string(246, '0') + "19";
    ASSERT_EQ(address.size(), 256u);
    const std::string port = std::string(44, '0') + "8";
    RunMain([&](HWND dialog) {
        StartClient(dialog, QString::fromStdString(address), QString::fromStdString(port));
    });
    ASSERT_NE(AppState.hostName.load(), nullptr);
    EXPECT_EQ(std::string(AppState.hostName.load().get()), address);
    EXPECT_EQ(std::string(AppState.portName.load().get()), port);
}

// The whole client path from the keyboard: the echo comes from a test peer.
TEST_F(Controller, EnterInTheDataFieldSendsAndClearsIt)
{
    raw::Fd listener(raw::Listen(raw::Family::V4));
    ASSERT_TRUE(listener.valid());
    std::string received;
    std::thread peer([&] {
        raw::Fd connection(raw::Accept(listener.get(), TEST_LIMIT_MS));
        received = raw::Receive(connection.get(), ECHO_MESSAGE_SIZE, TEST_LIMIT_MS);
        raw::Send(connection.get(), received);
        raw::WaitForEnd(connection.get(), TEST_LIMIT_MS);
    });
    RunMain([&](HWND dialog) {
        StartClient(dialog, "127.0.0.1", QString::number(raw::LocalPort(listener.get())));
        TypeInto(dialog, IDC_DATA, "abc");
        Press(Qt::Key_Return, Qt::NoModifier, Widget(dialog, IDC_DATA));
        EXPECT_EQ(LogText(dialog), u"======== Client Starts ========\r\n"
                                   u"Sent to server(127.0.0.1) ----> abc\r\n"
                                   u"Received Echo from server(127.0.0.1) <---- abc\r\n");
        EXPECT_EQ(FieldText(dialog, IDC_DATA), u"");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_DATA));
    });
    peer.join();
    EXPECT_EQ(received, std::string("abc") + std::string(ECHO_MESSAGE_SIZE - 3, '\0'));
}

// The socket layer counts its starts: the test ends the one the opening
// made and makes one of its own in its place, which only the dialog's close
// can end.
TEST_F(Controller, CloseWithNothingStartedClosesNoSocketAndStopsTheSocketLayer)
{
    for (int i = 0; i < 100 && WSACleanup() == 0; ++i) {
    }
    EXPECT_FALSE(RunMain([](HWND dialog) {
        EXPECT_EQ(WSACleanup(), 0) << "the opening did not start the socket layer";
        WSADATA data{};
        EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        WidgetOfWindow(dialog)->close();
    }));
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "the close did not stop the socket layer";
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(AppState.clientSocket.load(), INVALID_SOCKET);
    EXPECT_EQ(AppState.listenSocket.load(), INVALID_SOCKET);
    EXPECT_EQ(AppState.serverThread, nullptr);
}

// The worker may be waiting in accept, in a receive from a silent client,
// or in a log call that the dialog's thread has not served yet: closing
// frees it from each, without waiting for it.
TEST_F(Controller, CloseFreesAWorkerWhereverItWaits)
{
    for (int wait = 0; wait < 3; ++wait) {
        SCOPED_TRACE(wait);
        HANDLE worker = nullptr;
        raw::Fd client;
        RunMain([&](HWND dialog) {
            ASSERT_NO_FATAL_FAILURE(StartServer(dialog));
            if (wait >= 1) {
                client = raw::Fd(raw::Connect(raw::Family::V4, ListeningPort(), TEST_LIMIT_MS));
                ASSERT_TRUE(client.valid());
            }
            if (wait == 1)
                ASSERT_TRUE(PumpUntil([&] { return Occurrences(LogText(dialog), u"Accepted TCP") == 1; }));
            else if (wait == 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its log call waits for us
            worker = TakeWorker();
            auto start = Clock::now();
            Press(Qt::Key_Escape, Qt::NoModifier, WidgetOfWindow(dialog));
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        });
        EXPECT_TRUE(WaitForWorkerEnd(worker, 1000));
        if (client.valid()) {
            EXPECT_NE(raw::WaitForEnd(client.get(), 1000), raw::End::Open);
        }
    }
}

// The class icon of the main window becomes the application's: every
// picture of the program's icon, from the files the build embeds.
TEST_F(Controller, TheApplicationGetsTheProgramsIconAtEverySize)
{
    RunMain([](HWND) {});
    const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
    EXPECT_EQ(sizes.size(), 6);
    for (int side : {16, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
}

TEST(Centring, HalvesTowardZeroAndNeverGoesNegative)
{
    EXPECT_EQ(CentredPosition(107, 100), 3);
    EXPECT_EQ(CentredPosition(93, 100), 0);
    EXPECT_EQ(CentredPosition(1024, 600), 212);
    EXPECT_EQ(CentredPosition(100, 100), 0);
}

// The main window stands for the screen, so the dialog opens in its middle.
TEST_F(Controller, OpensCentredOnTheScreen)
{
    RunMain([](HWND dialog) {
        RECT window;
        ASSERT_TRUE(GetWindowRect(dialog, &window));
        QSize screen = QApplication::primaryScreen()->availableGeometry().size();
        int width = window.right - window.left;
        int height = window.bottom - window.top;
        // Centred before it was shown, so a window frame added since may
        // shift it by a few pixels.
        EXPECT_NEAR(window.left, CentredPosition(screen.width(), width), 4);
        EXPECT_NEAR(window.top, CentredPosition(screen.height(), height), 4);
        EXPECT_GT(window.left, 0);
    });
}

}  // namespace
