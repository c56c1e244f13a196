// Server benchmark: sequential exchanges against the program's server,
// started from its own dialog and logging into it, and against a bare
// one-thread blocking echo loop, in the same run. Also reports the
// process's resident memory before and after the exchanges.
// Usage: server_bench [exchanges]
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/load_driver.h"
#include "bench/program_dialog.h"
#include "core/app_state.h"
#include "frontend/resource.h"

namespace {

int ListeningPort()
{
    sockaddr_storage address = {};
    int length = sizeof address;
    if (getsockname(AppState.listenSocket.load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

LoadResult MeasureBareLoop(int exchanges)
{
    int listener = OpenBareListener();
    std::atomic<bool> stop{false};
    std::thread server(ServeBare, listener, std::cref(stop));
    LoadResult result = DriveExchanges(BoundPort(listener), exchanges);
    stop.store(true);
    CloseListener(listener);
    server.join();
    return result;
}

struct ServerRun {
    LoadResult load;
    long idleKiB = 0;
    long afterKiB = 0;
};

// Starts the server from the dialog, then drives it from a thread of its
// own while the dialog's thread serves the worker's log calls.
ServerRun MeasureServer(int exchanges)
{
    ServerRun run;
    std::atomic<bool> done{false};
    std::thread driver;
    RunProgramDialog(
        [&](HWND dialog) {
            SetDlgItemTextW(dialog, IDC_HOST, u"127.0.0.1");
            SetDlgItemTextW(dialog, IDC_PORT, u"0");
            Press(dialog, IDC_START);
            run.idleKiB = ResidentKiB();
            driver = std::thread([&] {
                for (int i = 0; i < 500 && ListeningPort() <= 0; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                run.load = DriveExchanges(ListeningPort(), exchanges);
                done.store(true);
            });
        },
        [&] {
            if (done.load())
                run.afterKiB = ResidentKiB();
            return done.load();
        });
    driver.join();
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    LoadResult bare = MeasureBareLoop(exchanges);
    ServerRun server = MeasureServer(exchanges);
    std::printf("%d sequential exchanges on loopback, platform %s\n", exchanges,
                QGuiApplication::platformName().toUtf8().constData());
    std::printf("%s\n", Describe("bare blocking echo loop", bare).c_str());
    std::printf("%s\n", Describe("server worker + dialog log", server.load).c_str());
    std::printf("ratio: %.1f%% of the bare loop's rate\n", 100.0 * Rate(server.load) / Rate(bare));
    std::printf("resident memory: %ld KiB when listening, %ld KiB after the exchanges (%+ld KiB)\n",
                server.idleKiB, server.afterKiB, server.afterKiB - server.idleKiB);
    return server.load.failed == 0 && bare.failed == 0 ? 0 : 1;
}
