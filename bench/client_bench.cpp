// Client benchmark: the program's Send, from the command to the echo in the
// log, against a bare blocking client, both against the same bare echo
// server on loopback. Usage: client_bench [exchanges]
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
#include "frontend/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

bool LogEndsWith(HWND dialog, const std::u16string& ending)
{
    auto length = static_cast<size_t>(SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0));
    std::u16string text(length + 1, u'\0');
    SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXT, text.size(), (LPARAM)text.data());
    text.resize(length);
    return text.ends_with(ending);
}

// Sends from the dialog as the user would: Start in the client role once,
// then Send per exchange, each timed until it returns with the echo logged.
LoadResult MeasureSends(int port, int exchanges)
{
    LoadResult result;
    result.latenciesUs.reserve(static_cast<size_t>(exchanges));
    RunProgramDialog(
        [&](HWND dialog) {
            SetDlgItemTextW(dialog, IDC_HOST, u"127.0.0.1");
            std::u16string portText = QString::number(port).toStdU16String();
            SetDlgItemTextW(dialog, IDC_PORT, portText.c_str());
            SendDlgItemMessageW(dialog, IDC_ROLE, CB_SETCURSEL, 1, 0);
            Press(dialog, IDC_START);
            auto start = Clock::now();
            for (int i = 0; i < exchanges; ++i) {
                SetDlgItemTextW(dialog, IDC_DATA, u"benchmark message");
                auto before = Clock::now();
                Press(dialog, IDC_SEND);
                double us = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
                result.latenciesUs.push_back(us);
            }
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (!LogEndsWith(dialog, u"Received Echo from server(127.0.0.1) <---- benchmark message\r\n"))
                result.failed = exchanges;
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
    int listener = OpenBareListener();
    std::atomic<bool> stop{false};
    std::thread server(ServeBare, listener, std::cref(stop));
    LoadResult bare = DriveExchanges(BoundPort(listener), exchanges);
    LoadResult sends = MeasureSends(BoundPort(listener), exchanges);
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
