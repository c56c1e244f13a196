// The real program in a real X server, driven only with the keyboard, as a
// new user would: once as the server for a test client, once as the client
// of a test echo server. Everything talks over loopback. Its accessibility
// tree is read once as a screen reader reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/raw_peer.h"
#include "tests/support/x_session.h"

namespace {

using Clock = std::chrono::steady_clock;
const int LIMIT_MS = 20000;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!x_.Ready())
            GTEST_FAIL() << "Xvfb could not be started";
    }

    // From Start, where the focus is when the dialog opens: Tab reaches the
    // port field, then the address field, then the role list.
    void EnterEndpoint(int port) const
    {
        ASSERT_TRUE(x_.Keys({"Tab", "Tab", "Tab", "Tab", "ctrl+a"}));
        ASSERT_TRUE(x_.Type(std::to_string(port)));
        ASSERT_TRUE(x_.Keys({"Tab", "ctrl+a"}));
        ASSERT_TRUE(x_.Type("127.0.0.1"));
        ASSERT_TRUE(x_.Keys({"Tab"}));
    }

    pid_t StartProgram() const { return x_.StartProgram(QUILLOMARDE_PATH); }

    XSession x_;
};

int FreePort()
{
    raw::Fd probe(raw::Listen(raw::Family::V4));
    return raw::LocalPort(probe.get());
}

std::string Message(const std::string& text)
{
    return text + std::string(100 - text.size(), '\0');
}

TEST_F(EndToEnd, ServesATestClientFromTheKeyboard)
{
    int port = FreePort();
    pid_t program = StartProgram();
    ASSERT_GT(program, 0);
    EnterEndpoint(port);
    ASSERT_TRUE(x_.Keys({"Tab", "Return"}));  // role list (Server), then Start

    std::string echo;
    auto deadline = Clock::now() + std::chrono::milliseconds(LIMIT_MS);
    while (echo.empty() && Clock::now() < deadline) {
        raw::Fd client(raw::Connect(raw::Family::V4, port, 1000));
        if (!client.valid()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        ASSERT_TRUE(raw::Send(client.get(), Message("keyboard hello")));
        echo = raw::Receive(client.get(), 100, LIMIT_MS);
    }
    EXPECT_EQ(echo, Message("keyboard hello"));

    ASSERT_TRUE(x_.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(program, 5000), 0);
}

TEST_F(EndToEnd, SendsToATestEchoServerFromTheKeyboard)
{
    raw::Fd listener(raw::Listen(raw::Family::V4));
    ASSERT_TRUE(listener.valid());
    std::string received;
    raw::Fd connection;
    std::thread server([&] {
        connection = raw::Fd(raw::Accept(listener.get(), LIMIT_MS));
        received = raw::Receive(connection.get(), 100, LIMIT_MS);
        raw::Send(connection.get(), received);
    });

    pid_t program = StartProgram();
    ASSERT_GT(program, 0);
    EnterEndpoint(raw::LocalPort(listener.get()));
    // Role list: Client; then Start, then on to the data field; Enter sends.
    ASSERT_TRUE(x_.Keys({"Down", "Tab", "Return", "Tab", "Tab"}));
    ASSERT_TRUE(x_.Type("typed by hand"));
    ASSERT_TRUE(x_.Keys({"Return"}));
    server.join();
    EXPECT_EQ(received, Message("typed by hand"));

    ASSERT_TRUE(x_.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(program, 5000), 0);
    // The client's connection stayed open after the echo until the program closed it.
    EXPECT_NE(raw::WaitForEnd(connection.get(), 1000), raw::End::Open);
}

// Over AT-SPI, on a session bus of the test's own: each input field
// carries its step label as its name, whatever it holds; the role list is
// named by the role chosen, labelled by its step label, and a new choice
// from the keyboard is announced. The frames around the steps carry no
// name, so no step is said twice.
TEST_F(EndToEnd, NamesItsFieldsAfterTheirStepsForScreenReaders)
{
    SessionBus bus(x_);
    ASSERT_TRUE(bus.Ready()) << "dbus-daemon could not be started";
    // Qt offers its tree only when a screen reader is said to run; this says so.
    pid_t program =
        x_.StartProgram(QUILLOMARDE_PATH, LIMIT_MS, {bus.Variable(), "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
    ASSERT_GT(program, 0);
    // From Start to the role list, which the script then moves on to Client.
    ASSERT_TRUE(x_.Keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab"}));
    std::vector<std::string> reader = x_.Environment();
    reader.push_back(bus.Variable());
    // Debian's own Python, which has the AT-SPI bindings.
    std::string tree =
        Output({"/usr/bin/python3", ACCESSIBLE_TREE_SCRIPT, "quillomarde", "10", "Down"}, reader, LIMIT_MS);
    for (const char* field : {"combo box\tServer\tStep 1 : Select role of Server or Client\n",
                              "text\tStep 2 : Specify IP address\t\n", "text\tStep 3 : Specify Port number\t\n",
                              "text\tStep 5 : If act as a role of Client, type data to send to server\t\n",
                              "text\tStep 6 : Recieved data and error message would be showed here.\t\n",
                              "changed\tcombo box\tClient\n"})
        EXPECT_NE(tree.find(field), std::string::npos) << field << "missing from:\n" << tree;
    EXPECT_EQ(tree.find("text\t\t"), std::string::npos) << "an unnamed field in:\n" << tree;
    EXPECT_EQ(tree.find("panel\tStep"), std::string::npos) << "a step said twice in:\n" << tree;

    ASSERT_TRUE(x_.Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(program, 5000), 0);
}

// Closing ends the process with 0 at once wherever the server worker waits:
// in accept, in a receive from a client that sends nothing, or in a log
// call while clients keep it busy. Each case is repeated, since a hang or
// a crash on the way out may depend on timing.
enum class WorkerWait { Accept, Receive, LogCall };

int CloseRepeats()
{
    const char* value = std::getenv("QUILLO_CLOSE_REPEATS");
    return value != nullptr ? std::max(1, std::atoi(value)) : 50;
}

class ClosingWhileServing : public EndToEnd, public ::testing::WithParamInterface<WorkerWait> {
protected:
    // Keeps the worker busy with exchanges until stopped.
    static void Flood(int port, const std::atomic<bool>& stop)
    {
        for (int i = 0; i < 100000 && !stop.load(); ++i) {
            raw::Fd client(raw::Connect(raw::Family::V4, port, 1000));
            if (client.valid() && raw::Send(client.get(), Message("flood")))
                raw::Receive(client.get(), 100, 1000);
        }
    }
};

TEST_P(ClosingWhileServing, EndsTheProcessWithZero)
{
    Clock::duration slowest{};
    for (int round = 0; round < CloseRepeats(); ++round) {
        SCOPED_TRACE(round);
        int port = FreePort();
        pid_t program = StartProgram();
        ASSERT_GT(program, 0);
        EnterEndpoint(port);
        ASSERT_TRUE(x_.Keys({"Tab", "Return"}));
        raw::Fd client;
        auto deadline = Clock::now() + std::chrono::milliseconds(LIMIT_MS);
        while (!client.valid() && Clock::now() < deadline)
            client = raw::Fd(raw::Connect(raw::Family::V4, port, 1000));
        ASSERT_TRUE(client.valid());
        if (GetParam() == WorkerWait::Accept)
            client = raw::Fd();
        std::atomic<bool> stop{false};
        std::jthread flood;
        if (GetParam() == WorkerWait::LogCall)
            flood = std::jthread(Flood, port, std::cref(stop));
        auto start = Clock::now();
        bool closed = x_.Keys({"Escape"});
        int status = WaitForExit(program, 5000);
        slowest = std::max(slowest, Clock::now() - start);
        stop.store(true);
        ASSERT_TRUE(closed);
        EXPECT_EQ(status, 0);
    }
    // From the close key sent to the process gone, for the record.
    RecordProperty("slowest_exit_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
}

INSTANTIATE_TEST_SUITE_P(Waits, ClosingWhileServing,
                         ::testing::Values(WorkerWait::Accept, WorkerWait::Receive, WorkerWait::LogCall));

}  // namespace
