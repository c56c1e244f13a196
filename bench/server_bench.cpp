// Server benchmark: the program's server, its dialog logging every line,
// against a bare one-thread blocking echo loop, each in a process of its
// own and driven from this one with 1 and with 8 clients at once. Reports
// exchanges per second, the server process's CPU time per exchange (user
// and system, all threads), p50 and p99 latency (each the median of three
// rounds), resident memory, and the program's CPU time and wake-ups over
// 10 s of idling.
// Usage: server_bench [exchanges] [idle-seconds]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/load_driver.h"
#include "bench/program_dialog.h"
#include "core/app_state.h"
#include "core/dialog_controller.h"
#include "frontend/resource_tables.h"

namespace {

int ListeningPort()
{
    sockaddr_storage address = {};
    int length = sizeof address;
    if (getsockname(AppState.listenSocket.load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// A server process: its pid and the port it listens on.
struct ServerProcess {
    pid_t pid = -1;
    int port = -1;
};

// Starts serve(reportPort) in a child process; the child writes its port
// to the pipe once it listens.
template <typename Serve>
ServerProcess Fork(Serve serve)
{
    int ends[2];
    if (pipe(ends) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        serve(ends[1]);
        _exit(0);
    }
    close(ends[1]);
    ServerProcess server{pid, -1};
    if (read(ends[0], &server.port, sizeof server.port) != sizeof server.port)
        server.port = -1;
    close(ends[0]);
    return server;
}

void ReportPort(int pipe, int port)
{
    [[maybe_unused]] ssize_t written = write(pipe, &port, sizeof port);
    close(pipe);
}

// The program as the user runs it: the dialog, Start as server on
// 127.0.0.1 and a port the system picks, the focus left on Start.
void ServeProgram(int pipe)
{
    int argc = 1;
    char name[] = "server_bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QTimer::singleShot(0, [pipe] {
        HWND dialog = AppState.dialog.load();
        SetDlgItemTextW(dialog, IDC_HOST, u"127.0.0.1");
        SetDlgItemTextW(dialog, IDC_PORT, u"0");
        Press(dialog, IDC_START);
        int port = -1;
        for (int i = 0; i < 500 && (port = ListeningPort()) <= 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ReportPort(pipe, port);
    });
    DialogBoxIndirectParamW(nullptr, &MAIN_DIALOG_TEMPLATE, nullptr, MainDlgProc, 0);
}

void ServeBareLoop(int pipe)
{
    int listener = OpenBareListener();
    ReportPort(pipe, BoundPort(listener));
    const std::atomic<bool> never{false};
    ServeBare(listener, never);
}

void Stop(const ServerProcess& server)
{
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
}

// How many times each load runs, alternating between the two servers; the
// median of each figure is reported, since a virtual machine's noise comes
// and goes.
const int ROUNDS = 3;

struct Measured {
    double rate = 0;               // exchanges per second
    double cpuUsPerExchange = 0;   // the server process's
    double p50Us = 0;
    double p99Us = 0;
    int failed = 0;
};

Measured Measure(const ServerProcess& server, int exchanges, int clients)
{
    const ProcessUsage before = UsageOf(server.pid);
    const LoadResult load = DriveConcurrently(server.port, exchanges, clients);
    const ProcessUsage after = UsageOf(server.pid);
    return {Rate(load), (after.cpuNs - before.cpuNs) / 1e3 / std::max(1, load.completed),
            Percentile(load.latenciesUs, 0.50), Percentile(load.latenciesUs, 0.99), load.failed};
}

// Each figure's median over the rounds; failures added up.
Measured Median(std::vector<Measured> rounds)
{
    Measured median;
    auto middle = [&rounds](double Measured::*figure) {
        std::vector<double> values;
        for (const Measured& round : rounds)
            values.push_back(round.*figure);
        return Percentile(values, 0.5);
    };
    median.rate = middle(&Measured::rate);
    median.cpuUsPerExchange = middle(&Measured::cpuUsPerExchange);
    median.p50Us = middle(&Measured::p50Us);
    median.p99Us = middle(&Measured::p99Us);
    for (const Measured& round : rounds)
        median.failed += round.failed;
    return median;
}

void Print(const char* name, const Measured& measured)
{
    std::printf("%-28s %8.0f exchanges/s   cpu %6.1f us/exchange   p50 %7.1f us   p99 %7.1f us   (%d failed)\n",
                name, measured.rate, measured.cpuUsPerExchange, measured.p50Us, measured.p99Us, measured.failed);
}

void Compare(const Measured& ours, const Measured& bare)
{
    std::printf("ours : bare   rate %.2fx   cpu %.2fx   p99 %.2fx\n", ours.rate / bare.rate,
                ours.cpuUsPerExchange / bare.cpuUsPerExchange, ours.p99Us / bare.p99Us);
}

// CPU time and wake-ups of the idle program, focus on its Start button.
void MeasureIdle(const ServerProcess& server, int seconds)
{
    const ProcessUsage before = UsageOf(server.pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ProcessUsage after = UsageOf(server.pid);
    std::printf("idle %d s, listening: cpu %.2f ms, %ld wake-ups\n", seconds, (after.cpuNs - before.cpuNs) / 1e6,
                after.switches - before.switches);
}

}  // namespace

int main(int argc, char** argv)
{
    const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const int idleSeconds = argc > 2 ? std::max(0, std::atoi(argv[2])) : 10;
    const ServerProcess bare = Fork(ServeBareLoop);
    const ServerProcess program = Fork(ServeProgram);
    if (bare.port <= 0 || program.port <= 0) {
        std::fprintf(stderr, "a server did not start\n");
        return 1;
    }
    std::printf("%d exchanges on loopback (connect, 100 bytes each way, close), platform %s\n", exchanges,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default");
    if (idleSeconds > 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        MeasureIdle(program, idleSeconds);
    }
    int failed = 0;
    const long idleKiB = ResidentKiB(program.pid);
    for (int clients : {1, 8}) {
        std::printf("-- %d client%s at once, median of %d rounds\n", clients, clients > 1 ? "s" : "", ROUNDS);
        std::vector<Measured> ours, theirs;
        for (int round = 0; round < ROUNDS; ++round) {
            theirs.push_back(Measure(bare, exchanges, clients));
            ours.push_back(Measure(program, exchanges, clients));
        }
        const Measured bareMedian = Median(theirs);
        const Measured ourMedian = Median(ours);
        Print("bare blocking echo loop", bareMedian);
        Print("server worker + dialog log", ourMedian);
        Compare(ourMedian, bareMedian);
        failed += ourMedian.failed + bareMedian.failed;
    }
    const long afterKiB = ResidentKiB(program.pid);
    std::printf("resident memory: %ld KiB when listening, %ld KiB after the exchanges (%+ld KiB)\n", idleKiB,
                afterKiB, afterKiB - idleKiB);
    Stop(program);
    Stop(bare);
    return failed == 0 ? 0 : 1;
}
