#include "core/waiting_log.h"

#include <algorithm>
#include <mutex>

#include "core/log_cap.h"

namespace {

// Everything here is guarded by the mutex; the two threads meet only here.
struct WaitingLog {
    std::mutex mutex;
    LogText text;
    int lineEnds = 0;
    bool told = false;  // the dialog's thread has been told since it last took the text
    bool open = true;
};

WaitingLog waiting;

const WCHAR LINE_END = '\n';

// The start of the line after the count-th line end.
int LineStartAfter(const LogText& text, int count)
{
    size_t at = 0;
    for (int i = 0; i < count; ++i)
        at = text.find(LINE_END, at) + 1;
    return static_cast<int>(at);
}

void KeepWithinCap(WaitingLog& log)
{
    const int length = static_cast<int>(log.text.size());
    const int cut = CharactersOverCap(
        log.lineEnds + 1, length, [&](int line) { return LineStartAfter(log.text, line); },
        [&](int position) {
            if (position <= 0)
                return 0;
            size_t end = log.text.find(LINE_END, static_cast<size_t>(position - 1));
            return end == LogText::npos ? position : static_cast<int>(end) + 1;
        });
    if (cut == 0)
        return;
    log.lineEnds -= static_cast<int>(std::count(log.text.begin(), log.text.begin() + cut, LINE_END));
    log.text.erase(0, static_cast<size_t>(cut));
}

}  // namespace

int AddWaitingLog(LPCWSTR text, int length)
{
    std::lock_guard lock(waiting.mutex);
    if (!waiting.open || length <= 0)
        return 0;
    waiting.text.append(text, static_cast<size_t>(length));
    waiting.lineEnds += static_cast<int>(std::count(text, text + length, LINE_END));
    KeepWithinCap(waiting);
    const bool tell = !waiting.told;
    waiting.told = true;
    return tell;
}

LogText TakeWaitingLog(void)
{
    LogText taken;
    std::lock_guard lock(waiting.mutex);
    taken.swap(waiting.text);
    waiting.lineEnds = 0;
    waiting.told = false;
    return taken;
}

void OpenWaitingLog(BOOL open)
{
    std::lock_guard lock(waiting.mutex);
    waiting.text.clear();
    waiting.lineEnds = 0;
    waiting.told = false;
    waiting.open = open != FALSE;
}
