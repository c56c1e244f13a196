// EM_APPENDTEXT and EM_DROPTEXT on the platform's own edit control. A hook
// on the program's main thread, set before wWinMain runs, subclasses each
// multi-line edit control as it is created (the dialogs are made on that
// thread); the subclass answers the two messages, lifts the control's
// text limit, and passes every other message on unchanged.
#include "platform/dialog_labels.h"
#include "platform/extensions.h"

#include <commctrl.h>

namespace {

const UINT_PTR LOG_SUBCLASS = 1;

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

// Replaces the characters [from, to) with text, then puts the user's
// selection and view back, moved up by what went before them; a view that
// showed the end scrolls on to the new end.
void ReplaceKeepingView(HWND edit, DWORD from, DWORD to, LPCWSTR text)
{
    DWORD start = 0;
    DWORD end = 0;
    Base(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool following = ShowsEnd(edit);
    auto firstShown = static_cast<LONG>(Base(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    // Only a cut at the start moves what the user sees.
    const DWORD dropped = from == 0 ? to : 0;
    const auto droppedLines = static_cast<LONG>(dropped > 0 ? Base(edit, EM_LINEFROMCHAR, dropped, 0) : 0);
    Base(edit, WM_SETREDRAW, FALSE, 0);
    Base(edit, EM_SETSEL, from, to);
    Base(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    auto moved = [&](DWORD position) { return position > dropped ? position - dropped : 0; };
    Base(edit, EM_SETSEL, moved(start), moved(end));
    LONG target = following ? static_cast<LONG>(Base(edit, EM_GETLINECOUNT, 0, 0))
                            : (firstShown > droppedLines ? firstShown - droppedLines : 0);
    Base(edit, EM_LINESCROLL, 0, target - static_cast<LONG>(Base(edit, EM_GETFIRSTVISIBLELINE, 0, 0)));
    Base(edit, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(edit, nullptr, TRUE);
}

LRESULT CALLBACK LogEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (message) {
    case WM_CREATE: {
        LRESULT result = Base(edit, message, wParam, lParam);
        // A multi-line control holds about 32,000 characters unless told
        // otherwise; a log of thousands of lines needs far more.
        Base(edit, EM_SETLIMITTEXT, 0, 0);
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(edit, LogEditProc, LOG_SUBCLASS);
        return Base(edit, message, wParam, lParam);
    case EM_APPENDTEXT: {
        if (lParam == 0)
            return 0;
        auto length = static_cast<DWORD>(GetWindowTextLengthW(edit));
        ReplaceKeepingView(edit, length, length, reinterpret_cast<LPCWSTR>(lParam));
        return 1;
    }
    case EM_DROPTEXT:
        if (wParam > 0)
            ReplaceKeepingView(edit, 0, static_cast<DWORD>(wParam), TEXT(""));
        return 1;
    default:
        return Base(edit, message, wParam, lParam);
    }
}

bool IsEditClass(HWND window)
{
    WCHAR name[64] = {};
    GetClassNameW(window, name, 64);
    return ClassNameIs(name, "EDIT");
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        auto window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if ((create->style & ES_MULTILINE) && IsEditClass(window))
            SetWindowSubclass(window, LogEditProc, LOG_SUBCLASS, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const HHOOK creationHook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());

}  // namespace
