// Shared support for the echo exchange tests: AppState set-up and reset,
// the log read byte for byte, an event pump for the dialog's thread while
// other threads work, and control of a real server worker thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/app_state.h"

// How long a test's own waits may last before the test fails: far above
// anything loopback needs, far below a hang.
constexpr int TEST_LIMIT_MS = 8000;
// The peer time-out the tests give the program: short enough that a broken
// wait ends the test quickly, long enough for a loaded machine.
constexpr DWORD TEST_PEER_TIMEOUT_MS = 4000;

// Closes every socket AppState holds, releases its resolution, forgets the
// host, port and dialog, and restores the peer time-out.
void ResetAppState();
// Sets the host and port texts as Start does; null leaves a text null.
void SetHostAndPort(const char* host, const char* port);

// The log box's text, byte for byte, with "\r\n" line ends.
std::u16string LogText(HWND dialog);
// UTF-8 to UTF-16 and back, to write expectations and show failures.
std::u16string Wide(const std::string& utf8);
std::string Narrow(const std::u16string& wide);
int Occurrences(const std::u16string& text, const std::u16string& part);
// A handle as the log shows it: 0x and eight hexadecimal digits.
std::string HandleText(SOCKET s);

// Runs the dialog's events until done() holds or limitMs passed; true when done.
// Only for the dialog's thread.
bool PumpUntil(const std::function<bool()>& done, int limitMs = TEST_LIMIT_MS);
// Runs work on a thread of its own while the dialog's thread keeps running
// its events (so the worker's log calls get through); true when work ended
// within limitMs. work must bound its own waits: it is always joined.
bool RunWhilePumping(const std::function<void()>& work, int limitMs = TEST_LIMIT_MS);

// Starts ServerWorker logging into dialog, on the given host and port texts.
HANDLE StartServerWorker(HWND dialog, const char* host, const char* port);
// Waits, running events, until the worker has ended, then releases its
// handle. True when it ended within limitMs.
bool WaitForWorkerEnd(HANDLE worker, int limitMs = TEST_LIMIT_MS);
// Ends a running worker by closing its sockets, then waits as above.
bool StopServerWorker(HANDLE worker, int limitMs = TEST_LIMIT_MS);
// The port the worker's listening socket is bound to, or -1.
int ListeningPort();

// A test that starts and ends with AppState as at start-up.
class EchoTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
