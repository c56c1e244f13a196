// The real program on an X server of its own (Xvfb), driven with xdotool:
// for the end-to-end tests and the start-up benchmark.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The main dialog's caption, by which its window is found.
extern const char* const DIALOG_TITLE;

// Starts a program (looked up on PATH) with extra environment variables.
pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment);
// Runs a program to its end (killed after limitMs) and returns what it
// wrote to its standard output.
std::string Output(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
                   int limitMs);
// The exit status once the process has ended, or -1 when it still runs
// after limitMs (it is then killed).
int WaitForExit(pid_t pid, int limitMs);

class XSession {
public:
    XSession();  // starts Xvfb on a free display
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool Ready() const { return xvfb_ > 0 && !display_.empty(); }
    std::vector<std::string> Environment() const;

    // Runs xdotool; true when it succeeded within limitMs.
    bool Xdotool(const std::vector<std::string>& arguments, int limitMs = 20000) const;
    bool Keys(const std::vector<std::string>& keys) const;
    bool Type(const std::string& text) const;
    // True once the dialog is shown.
    bool DialogShown() const;
    // Starts the program and waits until its dialog has the keyboard focus;
    // the process, or -1.
    pid_t StartProgram(const std::string& path, int limitMs = 20000,
                       const std::vector<std::string>& extraEnvironment = {}) const;
    // The same for a program started by a command (a loader and its arguments).
    pid_t StartProgram(const std::vector<std::string>& command, int limitMs = 20000,
                       const std::vector<std::string>& extraEnvironment = {}) const;
    // Gives the keyboard focus to the dialog of one running copy of the program.
    bool FocusProgram(pid_t program, int limitMs = 20000) const;

private:
    pid_t xvfb_ = -1;
    std::string display_;
};

// A D-Bus session bus of its own (dbus-daemon), on which the accessibility
// bus (AT-SPI) starts when a program first asks for it. Ends with the object.
class SessionBus {
public:
    explicit SessionBus(const XSession& x);
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool Ready() const { return daemon_ > 0 && !variable_.empty(); }
    // DBUS_SESSION_BUS_ADDRESS=..., for the programs that use the bus.
    const std::string& Variable() const { return variable_; }

private:
    pid_t daemon_ = -1;
    std::string variable_;
};
