// The real program in a real X server, driven only with the keyboard, as a
// new user would: once as the server for a test client, once as the client
// of a test echo server. Everything talks over loopback.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/raw_peer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const int LIMIT_MS = 20000;
const char* const WINDOW_TITLE = "Windows CE TCP/IP Socket Communication Demo";

pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
            posix_spawn_file_actions_t* actions = nullptr)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> variables(extraEnvironment);
    for (char** variable = environ; *variable != nullptr; ++variable)
        variables.push_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

// The exit status once the process has ended, or -1 if it is still running
// after limitMs (it is then killed).
int WaitForExit(pid_t pid, int limitMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// An X server of the test's own, on a display number it picks itself.
class XServer {
public:
    XServer()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24",
                      "-nolisten", "tcp"},
                     {}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        display_ = ReadDisplay(fds[0]);
        close(fds[0]);
    }
    ~XServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            WaitForExit(pid_, 5000);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Ready() const { return pid_ > 0 && !display_.empty(); }
    std::string Display() const { return ":" + display_; }

private:
    static std::string ReadDisplay(int fd)
    {
        std::string number;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            number += c;
        return number;
    }

    pid_t pid_ = -1;
    std::string display_;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!xserver_.Ready())
            GTEST_FAIL() << "Xvfb could not be started";
    }

    std::vector<std::string> Environment() const
    {
        return {"DISPLAY=" + xserver_.Display(), "QT_QPA_PLATFORM=xcb"};
    }

    // Runs xdotool with the arguments; true when it succeeded.
    bool Xdotool(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> command = {"xdotool"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        pid_t pid = Spawn(command, Environment());
        return pid > 0 && WaitForExit(pid, LIMIT_MS) == 0;
    }

    bool Keys(const std::vector<std::string>& keys) const
    {
        std::vector<std::string> arguments = {"key", "--delay", "30"};
        arguments.insert(arguments.end(), keys.begin(), keys.end());
        return Xdotool(arguments);
    }

    bool Type(const std::string& text) const { return Xdotool({"type", "--delay", "30", text}); }

    // Starts the program and waits until its dialog has the keyboard focus.
    pid_t StartProgram() const
    {
        pid_t pid = Spawn({QUILLOMARDE_PATH}, Environment());
        if (pid <= 0)
            return -1;
        auto deadline = Clock::now() + std::chrono::milliseconds(LIMIT_MS);
        while (Clock::now() < deadline) {
            if (Xdotool({"search", "--name", WINDOW_TITLE, "windowfocus", "--sync", "%1"}))
                return pid;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    // From Start, where the focus is when the dialog opens: Tab reaches the
    // port field, then the address field, then the role list.
    void EnterEndpoint(int port) const
    {
        ASSERT_TRUE(Keys({"Tab", "Tab", "Tab", "Tab", "ctrl+a"}));
        ASSERT_TRUE(Type(std::to_string(port)));
        ASSERT_TRUE(Keys({"Tab", "ctrl+a"}));
        ASSERT_TRUE(Type("127.0.0.1"));
        ASSERT_TRUE(Keys({"Tab"}));
    }

    XServer xserver_;
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
    ASSERT_TRUE(Keys({"Tab", "Return"}));  // role list (Server), then Start

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

    ASSERT_TRUE(Keys({"Escape"}));
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
    ASSERT_TRUE(Keys({"Down", "Tab", "Return", "Tab", "Tab"}));
    ASSERT_TRUE(Type("typed by hand"));
    ASSERT_TRUE(Keys({"Return"}));
    server.join();
    EXPECT_EQ(received, Message("typed by hand"));

    ASSERT_TRUE(Keys({"Escape"}));
    EXPECT_EQ(WaitForExit(program, 5000), 0);
    // The client's connection stayed open after the echo until the program closed it.
    EXPECT_NE(raw::WaitForEnd(connection.get(), 1000), raw::End::Open);
}

}  // namespace
