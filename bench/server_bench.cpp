// Server benchmark: sequential exchanges against the program's server worker
// logging into the real dialog, and against a bare one-thread blocking echo
// loop, in the same run. Usage: server_bench [exchanges]
#include <QApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/load_driver.h"
#include "core/app_state.h"
#include "frontend/resource.h"
#include "transport/server_worker.h"

namespace {

int exchanges = 20000;
LoadResult serverResult;

int ListeningPort()
{
    sockaddr_storage address = {};
    int length = sizeof address;
    if (getsockname(AppState.listenSocket.load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// Drives the worker from a thread of its own while the dialog's thread
// serves the worker's log calls, then ends the dialog.
void DriveWorker(HWND dialog)
{
    auto* done = new std::atomic<bool>(false);
    std::thread([done] {
        for (int i = 0; i < 500 && ListeningPort() <= 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        serverResult = DriveExchanges(ListeningPort(), exchanges);
        done->store(true);
    }).detach();
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [dialog, done, poll] {
        if (!done->load())
            return;
        poll->deleteLater();
        delete done;
        ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
        CloseConnection(AppState.acceptedSocket);
        EndDialog(dialog, 0);
    });
    poll->start(20);
}

INT_PTR CALLBACK BenchProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    AppState.dialog.store(dialog);
    AppState.hostName.store(MakeNarrowText(strdup("127.0.0.1")));
    AppState.portName.store(MakeNarrowText(strdup("0")));
    CloseHandle(CreateThread(nullptr, 0, ServerWorker, dialog, 0, nullptr));
    DriveWorker(dialog);
    return TRUE;
}

LoadResult MeasureBareLoop()
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

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc > 1)
        exchanges = std::max(1, std::atoi(argv[1]));
    LoadResult bare = MeasureBareLoop();
    DialogBoxIndirectParamW(nullptr, &MAIN_DIALOG_TEMPLATE, nullptr, BenchProc, 0);
    std::printf("%d sequential exchanges on loopback, platform %s\n", exchanges,
                QGuiApplication::platformName().toUtf8().constData());
    std::printf("%s\n", Describe("bare blocking echo loop", bare).c_str());
    std::printf("%s\n", Describe("server worker + dialog log", serverResult).c_str());
    std::printf("ratio: %.1f%% of the bare loop's rate\n", 100.0 * Rate(serverResult) / Rate(bare));
    return serverResult.failed == 0 && bare.failed == 0 ? 0 : 1;
}
