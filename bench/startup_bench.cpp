// Start-up benchmark: the real program under Xvfb, from process start to
// its dialog shown, and from the close key to the process's exit.
// Usage: startup_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/x_session.h"

namespace {

using Clock = std::chrono::steady_clock;
const int LIMIT_MS = 20000;

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    XSession x;
    if (!x.Ready()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    std::vector<double> shown, exited;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        pid_t program = Spawn({QUILLOMARDE_PATH}, x.Environment());
        while (!x.DialogShown() && Milliseconds(start, Clock::now()) < LIMIT_MS) {
        }
        shown.push_back(Milliseconds(start, Clock::now()));
        x.Xdotool({"search", "--onlyvisible", "--name", DIALOG_TITLE, "windowfocus", "--sync", "%1"});
        auto close = Clock::now();
        x.Keys({"Escape"});
        int status = WaitForExit(program, LIMIT_MS);
        exited.push_back(Milliseconds(close, Clock::now()));
        if (status != 0) {
            std::fprintf(stderr, "run %d: exit status %d\n", run, status);
            return 1;
        }
    }
    std::printf("start-up over %d runs under Xvfb: process start to dialog shown median %.0f ms (max %.0f), "
                "close key to exit median %.0f ms (max %.0f)\n",
                runs, Median(shown), *std::max_element(shown.begin(), shown.end()), Median(exited),
                *std::max_element(exited.begin(), exited.end()));
    return 0;
}
