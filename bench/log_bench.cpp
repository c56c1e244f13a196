// Log benchmark: the cost of one log line when the log holds 1,000 lines
// and after 1,000,000 lines (long past the line limit), painting included.
// Runs in a real window when QT_QPA_PLATFORM says so.
// Usage: log_bench [lines]
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <time.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/program_dialog.h"
#include "core/event_log.h"

namespace {

using Clock = std::chrono::steady_clock;
const int SAMPLE = 1000;
const int BURST = 100;
// Longer than a display frame, so that each burst is painted.
const auto FRAME_WAIT = std::chrono::milliseconds(40);

double ThreadCpuMicroseconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

// Runs the dialog's events, sleeping while there are none.
void RunEventsFor(std::chrono::milliseconds span)
{
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// Appends SAMPLE lines in bursts, each put into the log box at once and
// then painted in a frame. The dialog's thread's own time per line in
// microseconds: formatting, insertion, dropping old lines past the cap,
// and painting, but not the waits in between. (The log's own timer would
// put them in within a frame or a few, depending on what the last took.)
double AppendSample(HWND dialog, int first)
{
    double cpu = 0;
    for (int burst = first; burst < first + SAMPLE; burst += BURST) {
        double before = ThreadCpuMicroseconds();
        for (int i = burst; i < burst + BURST; ++i)
            AppendLog(u"Received from client(127.0.0.1) <---- line %d of the benchmark\r\n", i);
        FlushLog(dialog);
        cpu += ThreadCpuMicroseconds() - before;
        before = ThreadCpuMicroseconds();
        RunEventsFor(FRAME_WAIT);
        cpu += ThreadCpuMicroseconds() - before;
    }
    return cpu / SAMPLE;
}

// Appends lines as a busy server would, the dialog running its events
// between them, then puts what still waits into the log box and lets it
// settle for a frame.
void Fill(HWND dialog, int from, int to)
{
    for (int i = from; i < to; ++i) {
        AppendLog(u"Received from client(127.0.0.1) <---- line %d of the benchmark\r\n", i);
        QCoreApplication::processEvents();
    }
    FlushLog(dialog);
    RunEventsFor(FRAME_WAIT);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    int lines = argc > 1 ? std::max(3 * SAMPLE, std::atoi(argv[1])) : 1000000;
    double early = 0, late = 0;
    long kib = 0;
    RunProgramDialog(
        [&](HWND dialog) {
            Fill(dialog, 0, SAMPLE);
            early = AppendSample(dialog, SAMPLE);
            Fill(dialog, 2 * SAMPLE, lines - SAMPLE);
            late = AppendSample(dialog, lines - SAMPLE);
            kib = ResidentKiB();
        },
        [] { return true; });
    std::printf("log line cost: %.1f us at lines %d-%d, %.1f us at lines %d-%d (%+.0f%%); "
                "resident memory at the end %ld KiB\n",
                early, SAMPLE + 1, 2 * SAMPLE, late, lines - SAMPLE + 1, lines, 100.0 * (late - early) / early, kib);
    return 0;
}
