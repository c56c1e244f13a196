// Client benchmark: the program's Send, from the command to the echo
// logged, against a bare blocking client, both against the same bare echo
// server on loopback; then the log's shape and the memory used. With a
// host text (any spelling of 127.0.0.1, such as a 253-character one with
// leading zeros), the Sends go there.
// Usage: client_bench [exchanges] [host]
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/load_driver.h"
#include "bench/program_dialog.h"
#include "core/event_log.h"
#include "frontend/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

std::u16string LogBoxText(HWND dialog)
{
    FlushLog(dialog);
    auto length = static_cast<size_t>(SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0));
    std::u16string text(length + 1, u'\0');
    SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXT, text.size(), (LPARAM)text.data());
    text.resize(length);
    return text;
}

// Lines in the log, and whether each of them ends in "\r\n" within its
// 255 characters.
void DescribeLog(const std::u16string& log)
{
    size_t lines = 0;
    size_t longest = 0;
    bool ended = log.ends_with(u"\r\n");
    for (size_t start = 0, end; start < log.size(); start = end + 1, ++lines) {
        end = log.find(u'\n', start);
        if (end == std::u16string::npos)
            end = log.size();
        longest = std::max(longest, end - start + 1);
        ended = ended && end > start && log[end - 1] == u'\r';
    }
    std::printf("log: %zu lines (cap %d), %zu characters (cap %d), longest line %zu with its line end, "
                "every line ended: %s\n", lines, LOG_LINE_LIMIT, log.size(), LOG_CHAR_LIMIT, longest,
                ended ? "yes" : "NO");
}

// Sends from the dialog as the user would: Start in the client role once,
// then Send per exchange, each timed until it returns with the echo logged.
LoadResult MeasureSends(int port, int exchanges, const std::u16string& host)
{
    LoadResult result;
    result.latenciesUs.reserve(static_cast<size_t>(exchanges));
    RunProgramDialog(
        [&](HWND dialog) {
            SetDlgItemTextW(dialog, IDC_HOST, host.c_str());
            std::u16string portText = QString::number(port).toStdU16String();
            SetDlgItemTextW(dialog, IDC_PORT, portText.c_str());
            SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 1, 0);
            Press(dialog, IDC_START);
            const long before = ResidentKiB();
            // The Sends' own time: typing into the data field, which the
            // benchmark does for the user between them, is not the Send's.
            double sendingUs = 0;
            for (int i = 0; i < exchanges; ++i) {
                SetDlgItemTextW(dialog, IDC_DATA, u"benchmark message");
                auto before = Clock::now();
                Press(dialog, IDC_SEND);
                double us = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
                result.latenciesUs.push_back(us);
                sendingUs += us;
            }
            result.seconds = sendingUs / 1e6;
            const std::u16string log = LogBoxText(dialog);
            // A long host's line is cut, so only its start is certain.
            const size_t lastLine = log.rfind(u'\n', log.size() - 3) + 1;
            if (log.compare(lastLine, 26, u"Received Echo from server(") != 0)
                result.failed = exchanges;
            DescribeLog(log);
            std::printf("resident memory: %ld KiB before the Sends, %ld KiB after\n", before, ResidentKiB());
        },
        [] { return true; });
    result.completed = static_cast<int>(result.latenciesUs.size()) - result.failed;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const std::u16string host = argc > 2 ? QString::fromUtf8(argv[2]).toStdU16String() : u"127.0.0.1";
    int listener = OpenBareListener();
    std::atomic<bool> stop{false};
    std::thread server(ServeBare, listener, std::cref(stop));
    LoadResult bare = DriveExchanges(BoundPort(listener), exchanges);
    LoadResult sends = MeasureSends(BoundPort(listener), exchanges, host);
    stop.store(true);
    CloseListener(listener);
    server.join();
    std::printf("%d sequential exchanges on loopback, platform %s\n", exchanges,
                QGuiApplication::platformName().toUtf8().constData());
    std::printf("%s\n", Describe("bare blocking client", bare).c_str());
    std::printf("%s\n", Describe("Send from the dialog", sends).c_str());
    std::printf("ratio: Send takes %.2fx the bare client's time per exchange\n", Rate(bare) / Rate(sends));
    return 0;
}
