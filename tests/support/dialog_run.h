// The real main dialog for a test, on either system: the test's script runs
// inside the dialog's event loop once WM_INITDIALOG has been handled, and
// the dialog is ended after it (or after a time limit, so a broken test
// cannot hang). The Linux build runs it on the stand-ins
// (dialog_run_linux.cpp), the Windows build on the real dialog manager
// (dialog_run_win32.cpp).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// How long a test's own waits may last before the test fails: far above
// anything loopback needs, far below a hang.
constexpr int TEST_LIMIT_MS = 8000;

struct DialogCommand {
    int id;
    HWND control;
};

struct DialogRun {
    HWND dialog = nullptr;
    std::vector<DialogCommand> commands;  // every WM_COMMAND, in order
    INT_PTR result = 0;
};

// Runs the program's main dialog modally, with a dialog procedure that
// only records. script gets the dialog's handle; commands are recorded and
// none of them ends the dialog, except that the script may call EndDialog
// itself. Returns what the run saw.
DialogRun RunMainDialog(const std::function<void(HWND)>& script);

// Runs work on the dialog's thread; returns the most lines the log box
// held after any change meanwhile, as the box itself counts them.
int MostLogLinesDuring(HWND dialog, const std::function<void()>& work);

// One painting of the log box: when, and the text it showed, with "\r\n"
// line ends.
struct LogPaint {
    std::chrono::steady_clock::time_point at;
    std::basic_string<WCHAR> text;
};

// Runs work on the dialog's thread; returns each painting of the log box
// meanwhile, in order.
std::vector<LogPaint> LogPaintsDuring(HWND dialog, const std::function<void()>& work);

// Runs the dialog's events until done() holds or limitMs passed; true when
// done. Only for the dialog's thread.
bool PumpUntil(const std::function<bool()>& done, int limitMs = TEST_LIMIT_MS);
