#include "bench/log_watch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
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

// What the log box shows of the clients' exchanges.
struct Record {
    int lines = 0;
    int gaps = 0;
    std::map<int, int> first;  // client, its first exchange shown
    std::map<int, int> last;   // client, its last exchange shown
};

void Note(Record& record, int client, int exchange)
{
    auto last = record.last.find(client);
    if (last != record.last.end() && exchange != last->second + 1)
        ++record.gaps;
    record.first.emplace(client, exchange);
    record.last[client] = exchange;
}

Record Read(const WideText& log)
{
    Record record;
    for (size_t at = 0, end; (end = log.find('\n', at)) != WideText::npos; at = end + 1) {
        ++record.lines;
        // The log box's text is plain ASCII here.
        const std::string line(log.begin() + static_cast<std::ptrdiff_t>(at), log.begin() + static_cast<std::ptrdiff_t>(end));
        int client;
        int exchange;
        if (std::sscanf(line.c_str(), "Received from client(%*[^)]) <---- client %d exchange %d", &client, &exchange) == 2)
            Note(record, client, exchange);
    }
    if (record.first.count(0) != 0)
        for (const auto& [client, exchange] : record.first)
            record.gaps += client != 0 && exchange != 0;
    return record;
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
    WideText log;
    for (int i = 0; i < 300 && (log = LogBoxText(dialog)).find(wanted) == WideText::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double shownMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const Record record = Read(log);
    std::printf("%.0f %d %d", shownMs, record.lines, record.gaps);
    for (int client = 1; client <= LOG_WATCH_CLIENTS; ++client)
        std::printf(" %d", record.last.count(client) != 0 ? record.last.at(client) : -1);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

void WatchLogForInput(HWND dialog)
{
    std::thread(Watch, dialog).detach();
}
