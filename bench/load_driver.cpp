#include "bench/load_driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
const int MESSAGE_SIZE = 100;
// A stuck exchange must not stop the benchmark.
const int IO_LIMIT_S = 5;

sockaddr_in Loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool SendAll(int fd, const char* bytes, int count)
{
    while (count > 0) {
        ssize_t sent = send(fd, bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes += sent;
        count -= static_cast<int>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, char* bytes, int count)
{
    while (count > 0) {
        ssize_t received = recv(fd, bytes, static_cast<size_t>(count), 0);
        if (received <= 0)
            return false;
        bytes += received;
        count -= static_cast<int>(received);
    }
    return true;
}

void LimitWaits(int fd)
{
    timeval limit = {IO_LIMIT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

bool ExchangeText(int port, const char* text)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    LimitWaits(fd);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address = Loopback(port);
    char message[MESSAGE_SIZE] = {};
    std::snprintf(message, sizeof message, "%s", text);
    char echo[MESSAGE_SIZE];
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              SendAll(fd, message, MESSAGE_SIZE) && ReceiveAll(fd, echo, MESSAGE_SIZE) &&
              std::memcmp(message, echo, MESSAGE_SIZE) == 0;
    close(fd);
    return ok;
}

namespace {

bool Exchange(int port, const char* label, int sequence)
{
    char text[MESSAGE_SIZE];
    std::snprintf(text, sizeof text, "%s %d", label, sequence);
    return ExchangeText(port, text);
}

}  // namespace

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

LoadResult DriveExchanges(int port, int count, const char* label, int first)
{
    LoadResult result;
    result.latenciesUs.reserve(static_cast<size_t>(count));
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto before = Clock::now();
        if (!Exchange(port, label, first + i)) {
            ++result.failed;
            continue;
        }
        ++result.completed;
        result.latenciesUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

LoadResult DriveConcurrently(int port, int count, int clients)
{
    std::vector<LoadResult> parts(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        const int share = count / clients + (i < count % clients ? 1 : 0);
        threads.emplace_back([&parts, i, port, share] { parts[static_cast<size_t>(i)] = DriveExchanges(port, share); });
    }
    for (std::thread& thread : threads)
        thread.join();
    LoadResult total;
    total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const LoadResult& part : parts) {
        total.completed += part.completed;
        total.failed += part.failed;
        total.latenciesUs.insert(total.latenciesUs.end(), part.latenciesUs.begin(), part.latenciesUs.end());
    }
    return total;
}

ProcessUsage UsageOf(int pid)
{
    ProcessUsage usage;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double ns = 0;
        if (schedstat >> ns)
            usage.cpuNs += ns;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                usage.switches += std::atol(line.substr(line.find(':') + 1).c_str());
    }
    return usage;
}

int OpenBareListener()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, SOMAXCONN) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int BoundPort(int fd)
{
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}

void ServeBare(int listener, const std::atomic<bool>& stop)
{
    while (!stop.load()) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        LimitWaits(fd);
        char message[MESSAGE_SIZE];
        if (ReceiveAll(fd, message, MESSAGE_SIZE))
            SendAll(fd, message, MESSAGE_SIZE);
        close(fd);
    }
}

void CloseListener(int listener)
{
    shutdown(listener, SHUT_RDWR);
    close(listener);
}

double Rate(const LoadResult& result)
{
    return result.seconds > 0 ? result.completed / result.seconds : 0;
}

std::string Describe(const std::string& name, const LoadResult& result)
{
    char line[256];
    std::snprintf(line, sizeof line, "%-28s %8.0f exchanges/s   p50 %7.1f us   p99 %7.1f us   (%d ok, %d failed)",
                  name.c_str(), Rate(result), Percentile(result.latenciesUs, 0.50),
                  Percentile(result.latenciesUs, 0.99), result.completed, result.failed);
    return line;
}
