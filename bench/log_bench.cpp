// Log benchmark: the cost of one log line when the log holds 1,000 lines
// and after 1,000,000 lines (long past the line limit), painting included.
// Usage: log_bench [lines]
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/program_dialog.h"
#include "core/event_log.h"

namespace {

using Clock = std::chrono::steady_clock;
const int SAMPLE = 1000;

// Appends SAMPLE lines, letting the dialog run its events (and so paint)
// after each; the mean cost of one line in microseconds. A sample past the
// line limit includes its share of dropping old lines.
double AppendSample(int first)
{
    auto start = Clock::now();
    for (int i = first; i < first + SAMPLE; ++i) {
        AppendLog(u"Received from client(127.0.0.1) <---- line %d of the benchmark\r\n", i);
        QCoreApplication::processEvents();
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / SAMPLE;
}

void Fill(int from, int to)
{
    for (int i = from; i < to; ++i) {
        AppendLog(u"Received from client(127.0.0.1) <---- line %d of the benchmark\r\n", i);
        if (i % 64 == 0)
            QCoreApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    int lines = argc > 1 ? std::max(3 * SAMPLE, std::atoi(argv[1])) : 1000000;
    double early = 0, late = 0;
    long kib = 0;
    RunProgramDialog(
        [&](HWND) {
            Fill(0, SAMPLE);
            early = AppendSample(SAMPLE);
            Fill(2 * SAMPLE, lines - SAMPLE);
            late = AppendSample(lines - SAMPLE);
            kib = ResidentKiB();
        },
        [] { return true; });
    std::printf("log line cost: %.1f us at lines %d-%d, %.1f us at lines %d-%d (%+.0f%%); "
                "resident memory at the end %ld KiB\n",
                early, SAMPLE + 1, 2 * SAMPLE, late, lines - SAMPLE + 1, lines, 100.0 * (late - early) / early, kib);
    return 0;
}
