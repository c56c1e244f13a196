// Server benchmark: the program's server, its dialog logging every line,
// against a bare one-thread blocking echo loop, each in a process of its
// own and driven from this one with 1 and with 8 clients at once. Reports
// exchanges per second, the server process's CPU time per exchange (user
// and system, all threads), p50 and p99 latency (each the median of five
// rounds), resident memory, and the program's CPU time and wake-ups over
// 10 s of idling. With QUILLO_WINE set, both servers are the Windows
// build's, under Wine. With --stall, the program serves on while its X
// server is stopped (MeasureStall).
// Usage: server_bench [exchanges] [idle-seconds] | server_bench --stall seconds
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/load_driver.h"
#include "bench/log_watch.h"
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

// A server process: its pid, the port it listens on, and its standard
// input and output, on which it reports its port and can watch its log.
struct ServerProcess {
    pid_t pid = -1;
    int port = -1;
    int input = -1;
    FILE* output = nullptr;
};

// Starts a child process with pipes on its standard input and output, and
// reads the port it prints once it listens. The child runs run().
template <typename Run>
ServerProcess Spawn(Run run)
{
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[1]);
        close(out[0]);
        run();
        _exit(0);
    }
    close(in[0]);
    close(out[1]);
    ServerProcess server{pid, -1, in[1], fdopen(out[0], "r")};
    if (std::fscanf(server.output, "%d", &server.port) != 1)
        server.port = -1;
    return server;
}

void ReportPort(int port)
{
    std::printf("%d\n", port);
    std::fflush(stdout);
}

// The program as the user runs it: the dialog, Start as server on
// 127.0.0.1 and a port the system picks, the focus left on Start.
void ServeProgram()
{
    int argc = 1;
    char name[] = "server_bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QTimer::singleShot(0, [] {
        HWND dialog = AppState.dialog.load();
        SetDlgItemTextW(dialog, IDC_HOST, u"127.0.0.1");
        SetDlgItemTextW(dialog, IDC_PORT, u"0");
        Press(dialog, IDC_START);
        int port = -1;
        for (int i = 0; i < 500 && (port = ListeningPort()) <= 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ReportPort(port);
        WatchLogForInput(dialog);
    });
    DialogBoxIndirectParamW(nullptr, &MAIN_DIALOG_TEMPLATE, nullptr, MainDlgProc, 0);
}

void ServeBareLoop()
{
    int listener = OpenBareListener();
    ReportPort(BoundPort(listener));
    const std::atomic<bool> never{false};
    ServeBare(listener, never);
}

// Under Wine (QUILLO_WINE names its loader, QUILLO_BENCH_SERVERS the
// Windows build's bench_servers.exe), both servers are the Windows build's.
const char* Wine() { return std::getenv("QUILLO_WINE"); }

ServerProcess StartServer(const char* kind)
{
    if (Wine() != nullptr) {
        const char* servers = std::getenv("QUILLO_BENCH_SERVERS");
        return Spawn([=] { execl(Wine(), Wine(), servers, kind, static_cast<char*>(nullptr)); });
    }
    return std::strcmp(kind, "bare") == 0 ? Spawn(ServeBareLoop) : Spawn(ServeProgram);
}

void Stop(const ServerProcess& server)
{
    kill(server.pid, SIGKILL);
    waitpid(server.pid, nullptr, 0);
    close(server.input);
    std::fclose(server.output);
}

// Wine's server carries out every socket call of a Windows process, so its
// time counts as the process's own.
pid_t WineServer()
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name.rfind("wineserver", 0) == 0)
            return std::atoi(entry.path().filename().c_str());
    }
    return -1;
}

double CpuNs(const ServerProcess& server)
{
    const pid_t wineServer = Wine() != nullptr ? WineServer() : -1;
    return UsageOf(server.pid).cpuNs + (wineServer > 0 ? UsageOf(wineServer).cpuNs : 0);
}

// How many times each load runs, alternating between the two servers; the
// median of each figure is reported, since a virtual machine's noise comes
// and goes.
const int ROUNDS = 5;

struct Measured {
    double rate = 0;               // exchanges per second
    double cpuUsPerExchange = 0;   // the server process's
    double p50Us = 0;
    double p99Us = 0;
    int failed = 0;
};

Measured Measure(const ServerProcess& server, int exchanges, int clients)
{
    const double before = CpuNs(server);
    const LoadResult load = DriveConcurrently(server.port, exchanges, clients);
    const double after = CpuNs(server);
    return {Rate(load), (after - before) / 1e3 / std::max(1, load.completed),
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

// The clients of the display-stall run; client 0 fills the log first.
struct StallClients {
    std::atomic<bool> stop{false};
    std::atomic<long> served{0};
    std::atomic<long> failed{0};
    int sent[LOG_WATCH_CLIENTS + 1] = {};  // each client's own
    std::vector<std::thread> threads;
};

void StartStallClients(StallClients& clients, int port)
{
    for (int client = 1; client <= LOG_WATCH_CLIENTS; ++client)
        clients.threads.emplace_back([&clients, port, client] {
            const std::string label = "client " + std::to_string(client) + " exchange";
            while (!clients.stop.load()) {
                const LoadResult part = DriveExchanges(port, 50, label.c_str(), clients.sent[client]);
                clients.sent[client] += 50;
                clients.served += part.completed;
                clients.failed += part.failed;
            }
        });
}

// After the stall: how soon a new line shows, and how the log stands then.
bool ReportLogAfterStall(const ServerProcess& program, const StallClients& clients)
{
    const char MARKER[] = "the first line after the stall";
    [[maybe_unused]] ssize_t written = write(program.input, "the first line after the stall\n", sizeof MARKER);
    const bool echoed = ExchangeText(program.port, MARKER);
    double shownMs = -1;
    int lines = 0;
    int gaps = 0;
    int endsWithLast = 0;
    if (std::fscanf(program.output, "%lf %d %d", &shownMs, &lines, &gaps) != 3)
        shownMs = -1;
    for (int client = 1, last; client <= LOG_WATCH_CLIENTS; ++client)
        endsWithLast += std::fscanf(program.output, "%d", &last) == 1 && last == clients.sent[client] - 1;
    std::printf("display going on: a new line %s, shown in the log %.0f ms later; resident %.1f MiB\n",
                echoed ? "echoed" : "NOT echoed", shownMs, ResidentKiB(program.pid) / 1024.0);
    std::printf("the log then: %d lines, %d gaps, %d of %d clients' last exchanges shown\n", lines, gaps,
                endsWithLast, LOG_WATCH_CLIENTS);
    return echoed && shownMs >= 0 && gaps == 0;
}

// With 500 lines in the log, resident memory and rate each 10 s while the
// X server (QUILLO_DISPLAY_PID) is stopped for seconds and 4 clients send
// all the time; then how long, once it goes on, a new line takes to show,
// and whether the log is one unbroken run of the newest lines.
int MeasureStall(int seconds)
{
    const char* display = std::getenv("QUILLO_DISPLAY_PID");
    const ServerProcess program = StartServer("program");
    if (display == nullptr || program.port <= 0) {
        std::fprintf(stderr, "needs QUILLO_DISPLAY_PID and a server\n");
        return 1;
    }
    // Three lines an exchange, after the ready line.
    DriveExchanges(program.port, 500 / 3, "client 0 exchange");
    StallClients clients;
    StartStallClients(clients, program.port);
    auto report = [&](const char* when) {
        const long before = clients.served.load();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        std::printf("%-26s %7.0f exchanges/s   resident %6.1f MiB   %ld failed so far\n", when,
                    (clients.served.load() - before) / 10.0, ResidentKiB(program.pid) / 1024.0,
                    clients.failed.load());
    };
    report("display running");
    kill(std::atoi(display), SIGSTOP);
    for (int second = 0; second < seconds; second += 10)
        report("display stopped");
    kill(std::atoi(display), SIGCONT);
    clients.stop.store(true);
    for (std::thread& client : clients.threads)
        client.join();
    const bool unbroken = ReportLogAfterStall(program, clients);
    Stop(program);
    return unbroken ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--stall") == 0)
        return MeasureStall(std::max(10, std::atoi(argv[2])));
    const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const int idleSeconds = argc > 2 ? std::max(0, std::atoi(argv[2])) : 10;
    const ServerProcess bare = StartServer("bare");
    const ServerProcess program = StartServer("program");
    if (bare.port <= 0 || program.port <= 0) {
        std::fprintf(stderr, "a server did not start\n");
        return 1;
    }
    std::printf("%d exchanges on loopback (connect, 100 bytes each way, close), %s\n", exchanges,
                Wine() != nullptr ? "Windows build under Wine, cpu with wineserver's"
                : std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default platform");
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
