#include "bench/log_watch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "frontend/resource.h"

namespace {

using WideText = std::basic_string<WCHAR>;

// The log box's text. The calls wait until the dialog's thread answers
// them, as a reader waits for the window to show the text.
WideText LogBoxText(HWND dialog)
{
    WideText text(static_cast<size_t>(SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0)) + 1, 0);
    text.resize(GetDlgItemTextW(dialog, IDC_LOG, text.data(), static_cast<int>(text.size())));
    return text;
}

void Watch(HWND dialog)
{
    char line[128];
    if (std::fgets(line, sizeof line, stdin) == nullptr)
        return;
    line[std::strcspn(line, "\r\n")] = '\0';
    const WideText wanted(line, line + std::strlen(line));
    const auto start = std::chrono::steady_clock::now();
    // Reading a whole full log takes the dialog's thread a while; a tenth
    // of a second between reads leaves it its own work.
    for (int i = 0; i < 300 && LogBoxText(dialog).find(wanted) == WideText::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("%.0f\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    std::fflush(stdout);
}

}  // namespace

void WatchLogForInput(HWND dialog)
{
    std::thread(Watch, dialog).detach();
}
