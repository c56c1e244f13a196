// Two copies of the real program on one X server, one the server and one
// the client, exchange a message over loopback, and each logs its side of
// the exchange: two Linux copies, and a Linux copy with the Windows build
// run by Wine. The logs are read as a user could take them: select all in
// the log box, copy, and the clipboard holds the text. And a copy of
// either build as the client of a server that is slow to answer shows,
// on the screen itself, what it sent while it waits.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/raw_peer.h"
#include "tests/support/x_session.h"

namespace {

using Clock = std::chrono::steady_clock;

int FreePort()
{
    raw::Fd probe(raw::Listen(raw::Family::V4));
    return raw::LocalPort(probe.get());
}

class TwoCopies : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x_.Ready()) << "Xvfb could not be started";
        // This process reads the clipboard of the same X server. setenv
        // copies, so a second test's values do not leak the first's.
        for (const std::string& variable : x_.Environment()) {
            const size_t equals = variable.find('=');
            setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
        }
        static int argc = 1;
        static char name[] = "test_two_copies";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QGuiApplication>(argc, argv);
    }

    // From Start, where the focus is when the dialog opens.
    void EnterEndpointAndRole(int port, bool client, const std::string& address = "127.0.0.1") const
    {
        ASSERT_TRUE(x_.Keys({"Tab", "Tab", "Tab", "Tab", "ctrl+a"}));
        ASSERT_TRUE(x_.Type(std::to_string(port)));
        ASSERT_TRUE(x_.Keys({"Tab", "ctrl+a"}));
        ASSERT_TRUE(x_.Type(address));
        ASSERT_TRUE(x_.Keys({"Tab"}));
        if (client) {
            ASSERT_TRUE(x_.Keys({"Down"}));
        }
        ASSERT_TRUE(x_.Keys({"Tab", "Return"}));  // Start
    }

public:
    // The client role at 127.0.0.1 and port, started, with text typed in
    // the data field and the focus there.
    void EnterClientAndType(int port, const std::string& text) const
    {
        EnterEndpointAndRole(port, true);
        ASSERT_TRUE(x_.Keys({"Tab", "Tab"}));  // Start, then the log box, then the data field
        Paste(text);
    }

protected:
    // Pastes text into the focused field, as a user can: xdotool types a
    // key that the keyboard lacks by mapping it for a moment, and Wine does
    // not always catch up with the mapping.
    void Paste(const std::string& text) const
    {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
        // Programs ask this process, the clipboard's owner, for the text: Wine
        // as soon as the owner changes, Qt at the paste.
        ServeClipboard();
        ASSERT_TRUE(x_.Keys({"ctrl+v"}));
        ServeClipboard();
    }

    static void ServeClipboard()
    {
        auto until = Clock::now() + std::chrono::milliseconds(500);
        while (Clock::now() < until) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Copies the whole log of a copy that has the focus on Start or on the
    // data field, once it ends with lastLine (a log shows new lines within
    // a second), or as it is after three seconds; returns it.
    std::string CopyLog(const std::vector<std::string>& toLog, const std::string& lastLine) const
    {
        EXPECT_TRUE(x_.Keys(toLog));
        std::string text;
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        do {
            text = CopyFocused(x_);
        } while (!text.ends_with(lastLine) && Clock::now() < deadline);
        return text;
    }

    // Copies all the text of the focused field by the keyboard.
    static std::string CopyFocused(const XSession& x)
    {
        QGuiApplication::clipboard()->clear();
        EXPECT_TRUE(x.Keys({"ctrl+a", "ctrl+c"}));
        std::string text;
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (text.empty() && Clock::now() < deadline) {
            QCoreApplication::processEvents();
            text = QGuiApplication::clipboard()->text().toStdString();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return text;
    }

    XSession x_;
    std::unique_ptr<QGuiApplication> application_;
};

TEST_F(TwoCopies, ExchangeAMessageAndBothLogIt)
{
    int port = FreePort();
    pid_t server = x_.StartProgram(QUILLOMARDE_PATH);
    ASSERT_GT(server, 0);
    EnterEndpointAndRole(port, false);
    pid_t client = x_.StartProgram(QUILLOMARDE_PATH);
    ASSERT_GT(client, 0);
    EnterEndpointAndRole(port, true);
    ASSERT_TRUE(x_.Keys({"Tab", "Tab"}));  // Start, then the log box, then the data field
    ASSERT_TRUE(x_.Type("hello twin"));
    ASSERT_TRUE(x_.Keys({"Return"}));

    // After Send the focus is in the data field; the log box is one step back.
    std::string clientLog = CopyLog({"shift+Tab"}, "Received Echo from server(127.0.0.1) <---- hello twin\n");
    EXPECT_EQ(clientLog, "======== Client Starts ========\n"
                         "Sent to server(127.0.0.1) ----> hello twin\n"
                         "Received Echo from server(127.0.0.1) <---- hello twin\n");

    ASSERT_TRUE(x_.FocusProgram(server));
    std::string serverLog = CopyLog({"Tab"}, "Send Echo to client ---->hello twin\n");
    EXPECT_NE(serverLog.find("======== Server Starts ========\n"
                             "Socket 0x"),
              std::string::npos);
    EXPECT_NE(serverLog.find(" ready for connection with AF_INET family, TCP type, on port " +
                             std::to_string(port) + "\nAccepted TCP connection from socket 0x"),
              std::string::npos);
    EXPECT_NE(serverLog.find("\nReceived from client(127.0.0.1) <---- hello twin\n"
                             "Send Echo to client ---->hello twin\n"),
              std::string::npos)
        << serverLog;

    ASSERT_TRUE(x_.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(server, 5000), 0);
    ASSERT_TRUE(x_.FocusProgram(client));
    ASSERT_TRUE(x_.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(client, 5000), 0);
}

// The Windows build as CI gives it: the Wine loader and the .exe; empty
// when either is not named.
std::vector<std::string> WindowsCommand()
{
    const char* wine = std::getenv("QUILLO_WINE");
    const char* program = std::getenv("QUILLO_WINDOWS_EXE");
    if (wine == nullptr || program == nullptr)
        return {};
    return {wine, program};
}

// Socket handles (0x and eight hexadecimal digits) differ from run to run
// and between the systems.
std::string WithoutHandles(std::string log)
{
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (size_t at = log.find("0x"); at != std::string::npos; at = log.find("0x", at + 2))
        if (at + 10 <= log.size() && std::all_of(log.begin() + at + 2, log.begin() + at + 10, hex))
            log.replace(at + 2, 8, "????????");
    return log;
}

struct CrossExchange {
    std::string address;
    std::string family;
    bool windowsServes;
};

// Each way round, over IPv4 and IPv6, with text beyond ASCII: both logs
// line by line as the Linux build writes them, apart from handle values.
TEST_F(TwoCopies, ExchangeWithTheWindowsBuildBothWaysOverBothFamilies)
{
    const std::vector<std::string> windowsCopy = WindowsCommand();
    if (windowsCopy.empty())
        GTEST_SKIP() << "QUILLO_WINE and QUILLO_WINDOWS_EXE name the Windows build";
    const std::vector<std::string> linuxCopy = {QUILLOMARDE_PATH};
    const std::string text = "h\xC3\xA9llo w\xC3\xB6rld \xE2\x82\xAC";
    for (const CrossExchange& exchange : {CrossExchange{"127.0.0.1", "AF_INET", true},
                                          CrossExchange{"127.0.0.1", "AF_INET", false},
                                          CrossExchange{"::1", "AF_INET6", true},
                                          CrossExchange{"::1", "AF_INET6", false}}) {
        SCOPED_TRACE(exchange.address + (exchange.windowsServes ? ", Windows serves" : ", Linux serves"));
        int port = FreePort();
        pid_t server = x_.StartProgram(exchange.windowsServes ? windowsCopy : linuxCopy);
        ASSERT_GT(server, 0);
        EnterEndpointAndRole(port, false, exchange.address);
        pid_t client = x_.StartProgram(exchange.windowsServes ? linuxCopy : windowsCopy);
        ASSERT_GT(client, 0);
        EnterEndpointAndRole(port, true, exchange.address);
        ASSERT_TRUE(x_.Keys({"Tab", "Tab"}));
        Paste(text);
        ASSERT_TRUE(x_.Keys({"Return"}));

        const std::string echoLine = "Received Echo from server(" + exchange.address + ") <---- " + text + "\n";
        EXPECT_EQ(CopyLog({"shift+Tab"}, echoLine), "======== Client Starts ========\n"
                                                    "Sent to server(" + exchange.address + ") ----> " + text +
                                                    "\n" + echoLine);
        ASSERT_TRUE(x_.FocusProgram(server));
        EXPECT_EQ(WithoutHandles(CopyLog({"Tab"}, "Send Echo to client ---->" + text + "\n")),
                  "======== Server Starts ========\n"
                  "Socket 0x???????? ready for connection with " + exchange.family + " family, TCP type, on port " +
                      std::to_string(port) + "\n"
                  "Accepted TCP connection from socket 0x????????\n"
                  "Received from client(" + exchange.address + ") <---- " + text + "\n"
                  "Send Echo to client ---->" + text + "\n");

        // The server's worker waits in accept again.
        ASSERT_TRUE(x_.Keys({"Escape"}));
        EXPECT_EQ(WaitForExit(server, 1000), 0);
        ASSERT_TRUE(x_.FocusProgram(client));
        ASSERT_TRUE(x_.Keys({"Escape"}));
        EXPECT_EQ(WaitForExit(client, 5000), 0);
    }
}

// Pixels of text (darker than mid-grey) in the log box of the dialog as
// the X server shows it: the band of the window that the box takes, below
// the data field and its caret.
int TextPixelsInLog(const XSession& x)
{
    const std::string found =
        Output({"xdotool", "search", "--onlyvisible", "--name", DIALOG_TITLE}, x.Environment(), 5000);
    const WId window = std::strtoul(found.c_str(), nullptr, 10);
    if (window == 0)
        return -1;
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
    int dark = 0;
    for (int y = image.height() * 72 / 100; y < image.height() * 92 / 100; ++y)
        for (int x = image.width() * 8 / 100; x < image.width() * 90 / 100; ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

// A server that takes its time: the client's Send blocks its window until
// the echo comes, and meanwhile the line of what it sent is on screen.
void ExpectSentLineShownDuringTheWait(TwoCopies& test, const XSession& x, const std::vector<std::string>& command)
{
    raw::Fd listener(raw::Listen(raw::Family::V4));
    ASSERT_TRUE(listener.valid());
    std::atomic<bool> release{false};
    std::thread server([&] {
        raw::Fd connection(raw::Accept(listener.get(), 20000));
        const std::string received = raw::Receive(connection.get(), 100, 20000);
        for (int i = 0; i < 200 && !release.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        raw::Send(connection.get(), received);
        raw::WaitForEnd(connection.get(), 5000);
    });
    pid_t client = x.StartProgram(command);
    ASSERT_GT(client, 0);
    test.EnterClientAndType(raw::LocalPort(listener.get()), "are you there");
    const int before = TextPixelsInLog(x);
    ASSERT_TRUE(x.Keys({"Return"}));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int during = TextPixelsInLog(x);
    release.store(true);
    server.join();
    // A whole line more of text: far more than a caret or a pressed button.
    EXPECT_GT(during, before + 200) << "before " << before << ", during " << during;
    ASSERT_TRUE(x.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(client, 5000), 0);
}

TEST_F(TwoCopies, ASendShowsWhatItSentWhileTheEchoIsAwaited)
{
    ExpectSentLineShownDuringTheWait(*this, x_, {QUILLOMARDE_PATH});
}

TEST_F(TwoCopies, ASendOfTheWindowsBuildShowsWhatItSentWhileTheEchoIsAwaited)
{
    const std::vector<std::string> windowsCopy = WindowsCommand();
    if (windowsCopy.empty())
        GTEST_SKIP() << "QUILLO_WINE and QUILLO_WINDOWS_EXE name the Windows build";
    ExpectSentLineShownDuringTheWait(*this, x_, windowsCopy);
}

}  // namespace
