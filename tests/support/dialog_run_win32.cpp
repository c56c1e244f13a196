// The real main dialog for the Windows tests, from the program's own
// resources, run by the system's dialog manager; and the same event pump a
// modal loop runs, for waits on the dialog's thread.
#include "tests/support/dialog_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <commctrl.h>

#include "core/event_log.h"
#include "frontend/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

// Posted once the dialog is up: the script then runs inside its modal loop.
const UINT RUN_SCRIPT = WM_APP + 1;
const UINT_PTR LIMIT_TIMER = 1;
const UINT SCRIPT_TIME_LIMIT_MS = 20000;

DialogRun* currentRun = nullptr;
const std::function<void(HWND)>* currentScript = nullptr;

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The log box is the program's log, as in the program's own dialog.
    if (LogDialogMessage(dialog, message, wParam))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        currentRun->dialog = dialog;
        PostMessageW(dialog, RUN_SCRIPT, 0, 0);
        SetTimer(dialog, LIMIT_TIMER, SCRIPT_TIME_LIMIT_MS, nullptr);
        return TRUE;
    case RUN_SCRIPT:
        // Shown, as the modal loop shows it once its queue first runs dry,
        // so that the script meets the dialog a user meets: painted.
        ShowWindow(dialog, SW_SHOWNORMAL);
        UpdateWindow(dialog);
        (*currentScript)(dialog);
        EndDialog(dialog, -2);
        return TRUE;
    case WM_TIMER:
        if (wParam != LIMIT_TIMER)
            return FALSE;
        ADD_FAILURE() << "the script outlasted its time limit";
        EndDialog(dialog, -3);
        return TRUE;
    case WM_COMMAND:
        currentRun->commands.push_back({LOWORD(wParam), reinterpret_cast<HWND>(lParam)});
        return TRUE;
    default:
        return FALSE;
    }
}

const UINT_PTR LINE_COUNTER = 0x4C43;

// Notes the log box's line count after each message it takes.
LRESULT CALLBACK CountLines(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR most)
{
    LRESULT result = DefSubclassProc(box, message, wParam, lParam);
    auto* lines = reinterpret_cast<int*>(most);
    *lines = std::max(*lines, static_cast<int>(DefSubclassProc(box, EM_GETLINECOUNT, 0, 0)));
    return result;
}

const UINT_PTR PAINT_RECORDER = 0x4C50;

// Notes the box's text each time it is painted.
LRESULT CALLBACK RecordPaints(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR paints)
{
    if (message == WM_PAINT) {
        std::basic_string<WCHAR> text(static_cast<size_t>(DefSubclassProc(box, WM_GETTEXTLENGTH, 0, 0)) + 1, 0);
        text.resize(static_cast<size_t>(
            DefSubclassProc(box, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
        reinterpret_cast<std::vector<LogPaint>*>(paints)->push_back({Clock::now(), text});
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

}  // namespace

std::vector<LogPaint> LogPaintsDuring(HWND dialog, const std::function<void()>& work)
{
    HWND box = GetDlgItem(dialog, IDC_LOG);
    std::vector<LogPaint> paints;
    SetWindowSubclass(box, RecordPaints, PAINT_RECORDER, reinterpret_cast<DWORD_PTR>(&paints));
    work();
    RemoveWindowSubclass(box, RecordPaints, PAINT_RECORDER);
    return paints;
}

int MostLogLinesDuring(HWND dialog, const std::function<void()>& work)
{
    HWND box = GetDlgItem(dialog, IDC_LOG);
    int most = static_cast<int>(SendMessageW(box, EM_GETLINECOUNT, 0, 0));
    SetWindowSubclass(box, CountLines, LINE_COUNTER, reinterpret_cast<DWORD_PTR>(&most));
    work();
    RemoveWindowSubclass(box, CountLines, LINE_COUNTER);
    return most;
}

DialogRun RunMainDialog(const std::function<void(HWND)>& script)
{
    DialogRun run;
    currentRun = &run;
    currentScript = &script;
    run.result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, RecordingProc, 0);
    if (run.dialog == nullptr)
        ADD_FAILURE() << "the dialog was not made: error " << GetLastError();
    currentRun = nullptr;
    currentScript = nullptr;
    return run;
}

bool PumpUntil(const std::function<bool()>& done, int limitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        // Sends from other threads are served inside the wait; posted
        // messages and timers are dispatched below. A fine tick looks at
        // the condition.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return done();
            }
            // Keys move the focus as in the dialog's own modal loop.
            if (message.hwnd != nullptr && IsDialogMessageW(GetAncestor(message.hwnd, GA_ROOT), &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}
