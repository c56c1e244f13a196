// EM_SETLINELIMIT and EM_APPENDTEXT on the platform's own edit control.
// A hook on the program's main thread, set before wWinMain runs, subclasses
// each multi-line edit control as it is created (the dialogs are made on
// that thread); the subclass answers the two messages and passes every
// other message on unchanged.
//
// Appended text waits in the subclass and goes into the control once a
// display frame, in one piece: inserting and repainting costs the edit
// control far more per call than per character (about 10 ms a call under
// Wine), and a busy server logs thousands of lines a second. Any other
// message first puts the waiting text in, so whatever reads the control,
// types into it or paints it sees all of it.
#include "platform/extensions.h"

#include <commctrl.h>

#include <string>

namespace {

const WCHAR EDIT_CLASS[] = TEXT("Edit");
const UINT_PTR LOG_SUBCLASS = 1;
const UINT_PTR FLUSH_TIMER = 1;
// A display frame.
const UINT FLUSH_INTERVAL_MS = 16;

// What the subclass keeps for one control.
struct LogEdit {
    std::wstring pending;  // appended, not yet in the control
    INT_PTR lineLimit = 0;
};

LRESULT Base(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefSubclassProc(edit, message, wParam, lParam);
}

// The view shows the last line: the scroll box sits at the bottom, or
// there is nothing to scroll.
bool ShowsEnd(HWND edit)
{
    SCROLLINFO bar = {sizeof bar, SIF_POS | SIF_PAGE | SIF_RANGE, 0, 0, 0, 0, 0};
    if (!GetScrollInfo(edit, SB_VERT, &bar) || bar.nPage == 0)
        return true;
    return bar.nPos + static_cast<int>(bar.nPage) > bar.nMax;
}

// Drops the oldest whole lines once there are more than the limit,
// keeping nine tenths of it and the line being written. Returns the
// characters and the lines that went.
POINT DropOldestLines(HWND edit, INT_PTR limit)
{
    auto count = static_cast<INT_PTR>(Base(edit, EM_GETLINECOUNT, 0, 0));
    if (limit <= 0 || count <= limit)
        return {0, 0};
    INT_PTR first = count - 1 - limit * 9 / 10;
    LRESULT dropped = Base(edit, EM_LINEINDEX, first, 0);
    Base(edit, EM_SETSEL, 0, dropped);
    Base(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(TEXT("")));
    return {static_cast<LONG>(dropped), static_cast<LONG>(first)};
}

// Puts text at the end; the user's selection and view are put back
// afterwards, moved up by what was dropped, and a view that showed the
// end scrolls on to the new end.
void AppendKeepingView(HWND edit, const LogEdit& log, LPCWSTR text)
{
    DWORD start = 0;
    DWORD end = 0;
    Base(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool following = ShowsEnd(edit);
    auto firstShown = static_cast<LONG>(Base(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    Base(edit, WM_SETREDRAW, FALSE, 0);
    int length = GetWindowTextLengthW(edit);
    Base(edit, EM_SETSEL, length, length);
    Base(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    POINT dropped = DropOldestLines(edit, log.lineLimit);
    auto moved = [&](DWORD position) { return position > DWORD(dropped.x) ? position - dropped.x : 0; };
    Base(edit, EM_SETSEL, moved(start), moved(end));
    LONG target = following ? static_cast<LONG>(Base(edit, EM_GETLINECOUNT, 0, 0))
                            : (firstShown > dropped.y ? firstShown - dropped.y : 0);
    Base(edit, EM_LINESCROLL, 0, target - static_cast<LONG>(Base(edit, EM_GETFIRSTVISIBLELINE, 0, 0)));
    Base(edit, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(edit, nullptr, TRUE);
}

void Flush(HWND edit, LogEdit* log)
{
    if (log->pending.empty())
        return;
    KillTimer(edit, FLUSH_TIMER);
    const std::wstring text = std::move(log->pending);
    log->pending.clear();
    AppendKeepingView(edit, *log, text.c_str());
}

LRESULT CALLBACK LogEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto* log = reinterpret_cast<LogEdit*>(data);
    switch (message) {
    case WM_CREATE: {
        LRESULT result = Base(edit, message, wParam, lParam);
        // A multi-line control holds about 32,000 characters unless told
        // otherwise; a log of thousands of lines needs far more.
        Base(edit, EM_SETLIMITTEXT, 0, 0);
        return result;
    }
    case WM_NCDESTROY:
        KillTimer(edit, FLUSH_TIMER);
        RemoveWindowSubclass(edit, LogEditProc, LOG_SUBCLASS);
        delete log;
        return Base(edit, message, wParam, lParam);
    case EM_APPENDTEXT:
        if (lParam == 0)
            return 0;
        if (log->pending.empty())
            SetTimer(edit, FLUSH_TIMER, FLUSH_INTERVAL_MS, nullptr);
        log->pending += reinterpret_cast<LPCWSTR>(lParam);
        return 1;
    case EM_SETLINELIMIT:
        Flush(edit, log);
        log->lineLimit = static_cast<INT_PTR>(wParam);
        DropOldestLines(edit, log->lineLimit);
        return 1;
    case WM_TIMER:
        if (wParam == FLUSH_TIMER) {
            Flush(edit, log);
            return 0;
        }
        break;
    default:
        break;
    }
    Flush(edit, log);
    return Base(edit, message, wParam, lParam);
}

// Class names may carry a version ("6.0.2600.2982!Edit") under the
// manifest's Common Controls; the part after the last '!' names the kind.
bool IsEditClass(HWND window)
{
    WCHAR name[64];
    int length = GetClassNameW(window, name, 64);
    LPCWSTR kind = name;
    for (int i = 0; i < length; ++i)
        if (name[i] == '!')
            kind = name + i + 1;
    return length > 0 && lstrcmpiW(kind, EDIT_CLASS) == 0;
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        auto window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if ((create->style & ES_MULTILINE) && IsEditClass(window))
            SetWindowSubclass(window, LogEditProc, LOG_SUBCLASS, reinterpret_cast<DWORD_PTR>(new LogEdit));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const HHOOK creationHook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());

}  // namespace
