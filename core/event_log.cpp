#include "core/event_log.h"

#include <algorithm>
#include <cstdarg>
#include <string>

#include "core/app_state.h"
#include "core/waiting_log.h"
#include "frontend/resource.h"
#include "platform/extensions.h"
#include "platform/utf8.h"

namespace {

// Waiting text goes into the log box at most once a display frame, and
// less often when putting it in is slow (an edit control may take a few
// microseconds a character), so that the dialog's thread spends at most a
// tenth of its time on the log however fast the lines come; lines that
// come faster than that are dropped by the cap while they wait, which is
// far cheaper than dropping them from the log box. Yet never
// less often than once a second: the time a stalled display held up one
// insertion must not hold up the next.
const UINT_PTR LOG_FLUSH_TIMER = 0x4C4F;
const ULONGLONG LOG_FRAME_MS = 16;
const ULONGLONG LOG_SLOWEST_MS = 1000;
const ULONGLONG LOG_FLUSH_SHARE = 10;

// The dialog's thread only.
bool flushScheduled = false;
ULONGLONG flushIntervalMs = LOG_FRAME_MS;

bool EndsLine(LPCWSTR text, size_t length)
{
    return length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n';
}

// Formats into text, which holds LOG_LINE_CHARS. A text cut to fit keeps
// the line end its format ends in, so that the next text starts a line of
// its own. Returns the characters stored.
int FormatLogText(LPWSTR text, LPCWSTR format, va_list args)
{
    int length = FormatTextV(text, LOG_LINE_CHARS, format, args);
    if (!EndsLine(format, std::char_traits<WCHAR>::length(format)) || EndsLine(text, static_cast<size_t>(length)))
        return length;
    length = std::min(length, LOG_LINE_CHARS - 3);
    // Never keep half of a surrogate pair.
    if (length > 0 && utf8::IsHighSurrogate(text[length - 1]))
        --length;
    text[length++] = '\r';
    text[length++] = '\n';
    text[length] = 0;
    return length;
}

void ScheduleFlush(HWND dialog)
{
    if (flushScheduled)
        return;
    flushScheduled = SetTimer(dialog, LOG_FLUSH_TIMER, static_cast<UINT>(flushIntervalMs), nullptr) != 0;
    // Without a timer the text would wait for good: nothing tells the
    // dialog again until it has been taken.
    if (!flushScheduled)
        FlushLog(dialog);
}

// The first line start at or after position in the log box, or position
// itself when it lies in the last line.
int LineStartFrom(HWND log, int position)
{
    auto line = static_cast<int>(SendMessageW(log, EM_LINEFROMCHAR, position, 0));
    auto start = static_cast<int>(SendMessageW(log, EM_LINEINDEX, line, 0));
    if (start >= position)
        return start;
    auto next = static_cast<int>(SendMessageW(log, EM_LINEINDEX, line + 1, 0));
    return next >= 0 ? next : position;
}

// Drops the log box's oldest text past the cap.
void KeepWithinCap(HWND log)
{
    int cut = CharactersOverCap(
        static_cast<int>(SendMessageW(log, EM_GETLINECOUNT, 0, 0)),
        static_cast<int>(SendMessageW(log, WM_GETTEXTLENGTH, 0, 0)),
        [log](int line) { return static_cast<int>(SendMessageW(log, EM_LINEINDEX, line, 0)); },
        [log](int position) { return LineStartFrom(log, position); });
    if (cut > 0)
        SendMessageW(log, EM_DROPTEXT, cut, 0);
}

}  // namespace

void AppendLog(LPCWSTR format, ...)
{
    WCHAR text[LOG_LINE_CHARS];
    va_list args;
    va_start(args, format);
    int length = FormatLogText(text, format, args);
    va_end(args);
    HWND dialog = AppState.dialog.load();
    if (AddWaitingLog(text, length) && dialog != nullptr)
        PostMessageW(dialog, WM_LOGWAITING, 0, 0);
}

BOOL LogDialogMessage(HWND dialog, UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OpenWaitingLog(TRUE);
        return FALSE;
    case WM_DESTROY:
        OpenWaitingLog(FALSE);
        KillTimer(dialog, LOG_FLUSH_TIMER);
        flushScheduled = false;
        return FALSE;
    case WM_LOGWAITING:
        ScheduleFlush(dialog);
        return TRUE;
    case WM_TIMER:
        if (wParam != LOG_FLUSH_TIMER)
            return FALSE;
        KillTimer(dialog, LOG_FLUSH_TIMER);
        flushScheduled = false;
        FlushLog(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

void FlushLog(HWND dialog)
{
    const LogText text = TakeWaitingLog();
    if (text.empty())
        return;
    const ULONGLONG start = GetTickCount64();
    HWND log = GetDlgItem(dialog, IDC_LOG);
    SendMessageW(log, EM_APPENDTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    KeepWithinCap(log);
    // Painting now makes the time measured the whole cost of the text.
    UpdateWindow(log);
    flushIntervalMs = std::clamp((GetTickCount64() - start) * (LOG_FLUSH_SHARE - 1), LOG_FRAME_MS, LOG_SLOWEST_MS);
}
