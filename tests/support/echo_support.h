// Shared support for the echo exchange tests, on both systems: AppState
// set-up and reset, the log read byte for byte, work on another thread
// while the dialog's thread runs its events, and control of a real server
// worker thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/app_state.h"
#include "tests/support/dialog_run.h"

// Wide text as the system's calls take it.
using WideText = std::basic_string<WCHAR>;
// The peer time-out the tests give the program: short enough that a broken
// wait ends the test quickly, long enough for a loaded machine.
constexpr DWORD TEST_PEER_TIMEOUT_MS = 4000;

// Closes every socket AppState holds, releases its resolution, forgets the
// host, port and dialog, and restores the peer time-out.
void ResetAppState();
// Sets the host and port texts as Start does; null leaves a text null.
void SetHostAndPort(const char* host, const char* port);

// The log box's text, byte for byte, with "\r\n" line ends, once the text
// waiting for it is in.
WideText LogText(HWND dialog);
// The same, as the box holds it now.
WideText LogBoxText(HWND dialog);
// UTF-8 to UTF-16 and back, to write expectations and show failures.
WideText Wide(const std::string& utf8);
std::string Narrow(const WideText& wide);
int Occurrences(const WideText& text, const WideText& part);
// A handle as the log shows it: 0x and eight hexadecimal digits.
std::string HandleText(SOCKET s);

// True when the tests run under Wine rather than on Windows or Linux. Wine
// hands a connection reset that arrives while no call waits on the socket
// to its own event reporting, so the next receive sees an orderly close
// where Windows and Linux report the reset.
bool UnderWine();
// A log as a test compares it: under Wine, resetLine is taken as closedLine.
WideText ResetSeenAsClose(WideText log, const WideText& resetLine, const WideText& closedLine);

// Runs the main dialog as RunMainDialog does, with the program's log going
// to it.
DialogRun RunLoggingDialog(const std::function<void(HWND)>& script);

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
