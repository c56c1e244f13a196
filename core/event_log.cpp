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
// microseconds a character): the next flush waits nineteen times as long
// as the last one took, so that putting text in takes at most a twentieth
// of the dialog's thread however fast the lines come, and a busy server
// keeps the processor for itself. That time includes painting where the
// system paints at once (Windows); Qt lays out and paints later, outside
// it. Lines that come faster wait longer, and the cap drops the oldest of
// them while they wait, which is far cheaper than putting them into the
// log box only to drop them from it. Yet a flush comes at least once a
// second: the time a stalled display held up one must not hold up the next.
const UINT_PTR LOG_FLUSH_TIMER = 0x4C4F;
const ULONGLONG LOG_SLOWEST_MS = 1000;
const ULONGLONG LOG_FLUSH_SHARE = 20;

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

int Query(HWND box, UINT message, int value = 0)
{
    return static_cast<int>(SendMessageW(box, message, static_cast<WPARAM>(value), 0));
}

// The log box and the text about to join it, as the one text the cap
// keeps: the box's lines first, then the waiting ones.
struct WholeLog {
    HWND box;
    int boxLength;
    int boxLineEnds;
    const WaitingText& waiting;
};

int LineStart(const WholeLog& log, int line)
{
    if (line <= log.boxLineEnds)
        return Query(log.box, EM_LINEINDEX, line);
    return log.boxLength + LineStartIn(log.waiting.text, line - log.boxLineEnds);
}

int LineOf(const WholeLog& log, int position)
{
    if (position < log.boxLength)
        return Query(log.box, EM_LINEFROMCHAR, position);
    return log.boxLineEnds + LineEndsIn(log.waiting.text, 0, position - log.boxLength);
}

// How much of the whole log's start the cap drops. All of the box when
// lines went while the text waited: the box's are older still.
int WholeLogOverCap(const WholeLog& log)
{
    if (log.waiting.dropped)
        return log.boxLength;
    return CharactersOverCap(log.boxLineEnds + log.waiting.lineEnds + 1,
                             log.boxLength + static_cast<int>(log.waiting.text.size()),
                             [&](int line) { return LineStart(log, line); },
                             [&](int position) { return LineOf(log, position); });
}

// Drops what the cap drops, from the box first and then from the waiting
// text, before the text goes in: the box never holds more than the cap,
// takes no text only to drop it, and shows one unbroken run of the newest
// lines.
void MakeRoom(HWND box, WaitingText& waiting)
{
    const int boxLength = Query(box, WM_GETTEXTLENGTH);
    const int cut = WholeLogOverCap(WholeLog{box, boxLength, Query(box, EM_GETLINECOUNT) - 1, waiting});
    if (cut > 0 && boxLength > 0)
        SendMessageW(box, EM_DROPTEXT, static_cast<WPARAM>(std::min(cut, boxLength)), 0);
    if (cut > boxLength)
        waiting.text.erase(0, static_cast<size_t>(cut - boxLength));
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
    // Should the dialog not hear of it (no dialog yet, its message queue
    // full), the next text tells it again.
    if (AddWaitingLog(text, length) && (dialog == nullptr || !PostMessageW(dialog, WM_LOGWAITING, 0, 0)))
        UntoldWaitingLog();
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
    // Without its box yet, the text goes on waiting.
    HWND log = GetDlgItem(dialog, IDC_LOG);
    if (log == nullptr)
        return;
    WaitingText waiting = TakeWaitingLog();
    if (waiting.text.empty())
        return;
    const ULONGLONG start = GetTickCount64();
    MakeRoom(log, waiting);
    SendMessageW(log, EM_APPENDTEXT, 0, reinterpret_cast<LPARAM>(waiting.text.c_str()));
    RecycleWaitingLog(std::move(waiting.text));
    // Painting now makes the time measured the whole cost of the text.
    UpdateWindow(log);
    flushIntervalMs = std::clamp<ULONGLONG>((GetTickCount64() - start) * (LOG_FLUSH_SHARE - 1), LOG_FRAME_MS, LOG_SLOWEST_MS);
}
