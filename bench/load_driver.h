// The benchmarks' load: sequential echo exchanges over loopback on the
// system's own sockets, timed one by one, and a bare echo server to compare.
#pragma once

#include <atomic>
#include <string>
#include <vector>

struct LoadResult {
    int completed = 0;
    int failed = 0;
    double seconds = 0;
    std::vector<double> latenciesUs;  // one per completed exchange
};

// One exchange with the server at 127.0.0.1:port, of text; true when the
// echo came back whole.
bool ExchangeText(int port, const char* text);
// Makes count exchanges with the server at 127.0.0.1:port: connect, send
// 100 bytes, receive the 100-byte echo and check it, close. Each message
// is its label and its number, counted from first ("exchange 0", ...).
LoadResult DriveExchanges(int port, int count, const char* label = "exchange", int first = 0);
// The same count of exchanges shared among clients threads that run at
// once, each making its exchanges one after another.
LoadResult DriveConcurrently(int port, int count, int clients);

// A one-thread blocking echo loop on 127.0.0.1, port chosen by the system.
// Serves until stop is set and one more connection (or close) wakes it.
int OpenBareListener();
int BoundPort(int fd);
void ServeBare(int listener, const std::atomic<bool>& stop);
void CloseListener(int listener);

// Exchanges per second, p50 and p99 latency, as one line of text.
std::string Describe(const std::string& name, const LoadResult& result);
double Rate(const LoadResult& result);
double Percentile(std::vector<double> values, double fraction);

// What a process has used so far, all its threads together.
struct ProcessUsage {
    double cpuNs = 0;    // time on a processor, user and system
    long switches = 0;   // times a thread left the processor: its wake-ups, and preemptions
};
ProcessUsage UsageOf(int pid);
