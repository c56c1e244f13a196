#include "core/waiting_log.h"

#include <mutex>

namespace {

// The most text, in characters, whose memory is kept for the next: what
// waits between two flushes at a busy server's rate, far below the cap.
// A larger text comes when lines wait long, and flushes are rare then.
const size_t SPARE_LIMIT = 1 << 18;

// Everything here is guarded by the mutex; the two threads meet only here.
struct WaitingLog {
    std::mutex mutex;
    WaitingText waiting = {LogString(), 0, false};
    // Text given back once it was in the box: empty, its memory kept for
    // what waits next, which then grows without copying itself anew.
    LogString spare;
    bool told = false;  // the dialog's thread has been told since it last took the text
    bool open = true;
};

WaitingLog shared;

void KeepWithinCap(WaitingText& waiting)
{
    const LogString& text = waiting.text;
    if (waiting.lineEnds < LOG_LINE_LIMIT && text.size() <= static_cast<size_t>(LOG_CHAR_LIMIT))
        return;
    const int cut = CharactersOverCap(
        waiting.lineEnds + 1, static_cast<int>(text.size()), [&](int line) { return LineStartIn(text, line); },
        [&](int position) { return LineEndsIn(text, 0, position); });
    if (cut == 0)
        return;
    waiting.lineEnds -= LineEndsIn(text, 0, cut);
    waiting.text.erase(0, static_cast<size_t>(cut));
    waiting.dropped = true;
}

}  // namespace

int AddWaitingLog(LPCWSTR text, int length)
{
    std::lock_guard lock(shared.mutex);
    if (!shared.open || length <= 0)
        return 0;
    const size_t end = shared.waiting.text.size();
    shared.waiting.text.append(text, static_cast<size_t>(length));
    shared.waiting.lineEnds += LineEndsIn(shared.waiting.text, static_cast<int>(end), static_cast<int>(end) + length);
    KeepWithinCap(shared.waiting);
    const bool tell = !shared.told;
    shared.told = true;
    return tell;
}

void UntoldWaitingLog(void)
{
    std::lock_guard lock(shared.mutex);
    shared.told = false;
}

WaitingText TakeWaitingLog(void)
{
    WaitingText taken = {LogString(), 0, false};
    std::lock_guard lock(shared.mutex);
    std::swap(taken.text, shared.spare);
    std::swap(taken, shared.waiting);
    shared.told = false;
    return taken;
}

void RecycleWaitingLog(LogString&& text)
{
    if (text.capacity() > SPARE_LIMIT)
        return;
    text.clear();
    std::lock_guard lock(shared.mutex);
    if (text.capacity() > shared.spare.capacity())
        shared.spare = std::move(text);
}

void OpenWaitingLog(BOOL open)
{
    std::lock_guard lock(shared.mutex);
    shared.waiting = {LogString(), 0, false};
    shared.told = false;
    shared.open = open != FALSE;
}
