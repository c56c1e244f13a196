#include "tests/support/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

extern char** environ;

const char* const DIALOG_TITLE = "Windows CE TCP/IP Socket Communication Demo";

namespace {

using Clock = std::chrono::steady_clock;
const int FOCUS_ATTEMPT_MS = 2000;

pid_t SpawnWith(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
                const posix_spawn_file_actions_t* actions)
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

std::string ReadLine(int fd)
{
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// Starts a server that writes a line saying where to reach it (a display
// number, a bus address) to the descriptor it is given; returns the process
// and sets *line, empty when it wrote nothing.
pid_t SpawnReporting(const std::function<std::vector<std::string>(int fd)>& arguments,
                     const std::vector<std::string>& extraEnvironment, std::string* line)
{
    line->clear();
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = SpawnWith(arguments(fds[1]), extraEnvironment, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (pid > 0)
        *line = ReadLine(fds[0]);
    close(fds[0]);
    return pid;
}

// Asks a server this file started to end, and waits for it.
void Stop(pid_t server)
{
    if (server > 0) {
        kill(server, SIGTERM);
        WaitForExit(server, 5000);
    }
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment)
{
    return SpawnWith(arguments, extraEnvironment, nullptr);
}

int WaitForExit(pid_t pid, int limitMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Xvfb picks a free display and reports its number.
XSession::XSession()
{
    // No reset when the last client leaves: a program starting just then
    // would find no display.
    std::string number;
    xvfb_ = SpawnReporting(
        [](int fd) {
            return std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fd), "-screen", "0", "1024x768x24",
                                            "-noreset", "-nolisten", "tcp"};
        },
        {}, &number);
    if (!number.empty())
        display_ = ":" + number;
}

XSession::~XSession()
{
    Stop(xvfb_);
}

std::vector<std::string> XSession::Environment() const
{
    return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"};
}

// xdotool's output (the windows it found) is not wanted.
bool XSession::Xdotool(const std::vector<std::string>& arguments, int limitMs) const
{
    std::vector<std::string> command = {"xdotool"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = SpawnWith(command, Environment(), &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid > 0 && WaitForExit(pid, limitMs) == 0;
}

bool XSession::Keys(const std::vector<std::string>& keys) const
{
    std::vector<std::string> arguments = {"key", "--delay", "10"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    return Xdotool(arguments);
}

bool XSession::Type(const std::string& text) const
{
    return Xdotool({"type", "--delay", "10", text});
}

bool XSession::DialogShown() const
{
    return Xdotool({"search", "--onlyvisible", "--name", DIALOG_TITLE});
}

pid_t XSession::StartProgram(const std::string& path, int limitMs,
                             const std::vector<std::string>& extraEnvironment) const
{
    return StartProgram(std::vector<std::string>{path}, limitMs, extraEnvironment);
}

pid_t XSession::StartProgram(const std::vector<std::string>& command, int limitMs,
                             const std::vector<std::string>& extraEnvironment) const
{
    std::vector<std::string> environment = Environment();
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    pid_t pid = Spawn(command, environment);
    if (pid <= 0)
        return -1;
    if (FocusProgram(pid, limitMs))
        return pid;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool XSession::FocusProgram(pid_t program, int limitMs) const
{
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (Clock::now() < deadline && kill(program, 0) == 0) {
        // Focus can be refused while the window is still being mapped, and
        // a focus request that is never granted would wait for ever: try
        // again, each time for a short while.
        if (Xdotool({"search", "--all", "--onlyvisible", "--pid", std::to_string(program), "--name",
                     DIALOG_TITLE, "windowfocus", "--sync", "%1"},
                    FOCUS_ATTEMPT_MS))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// dbus-daemon reports the new bus's address. Services it starts on demand
// (the accessibility bus) see this display.
SessionBus::SessionBus(const XSession& x)
{
    std::string address;
    daemon_ = SpawnReporting(
        [](int fd) {
            return std::vector<std::string>{"dbus-daemon", "--session", "--nofork",
                                            "--print-address=" + std::to_string(fd)};
        },
        x.Environment(), &address);
    if (!address.empty())
        variable_ = "DBUS_SESSION_BUS_ADDRESS=" + address;
}

SessionBus::~SessionBus()
{
    Stop(daemon_);
}

std::string Output(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
                   int limitMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t pid = SpawnWith(arguments, extraEnvironment, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string output;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    pollfd readable = {fds[0], POLLIN, 0};
    char buffer[4096];
    while (pid > 0 && Clock::now() < deadline && poll(&readable, 1, 100) >= 0) {
        if (!(readable.revents & (POLLIN | POLLHUP)))
            continue;
        ssize_t count = read(fds[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        output.append(buffer, static_cast<size_t>(count));
    }
    close(fds[0]);
    if (pid > 0)
        WaitForExit(pid, limitMs);
    return output;
}
