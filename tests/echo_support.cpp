#include "tests/echo_support.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "frontend/resource.h"
#include "transport/server_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void ResetAppState()
{
    ReplaceSocket(AppState.clientSocket, INVALID_SOCKET);
    ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
    CloseConnection(AppState.acceptedSocket);
    ReplaceClientAddresses(nullptr);
    AppState.hostName.store(nullptr);
    AppState.portName.store(nullptr);
    AppState.dialog.store(nullptr);
    AppState.peerTimeoutMs.store(PEER_TIMEOUT_MS);
}

void SetHostAndPort(const char* host, const char* port)
{
    AppState.hostName.store(host != nullptr ? MakeNarrowText(strdup(host)) : nullptr);
    AppState.portName.store(port != nullptr ? MakeNarrowText(strdup(port)) : nullptr);
}

std::u16string LogText(HWND dialog)
{
    LRESULT length = SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0);
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    LRESULT copied = SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXT, text.size(),
                                         reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::u16string Wide(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
}

std::string Narrow(const std::u16string& wide)
{
    return QString::fromStdU16String(wide).toStdString();
}

int Occurrences(const std::u16string& text, const std::u16string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::string HandleText(SOCKET s)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(s));
    return text;
}

bool PumpUntil(const std::function<bool()>& done, int limitMs)
{
    if (done())
        return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    // A nested loop that sleeps until the next event, with a fine tick to
    // look at the condition: calls from other threads are served at once.
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    bool finished = false;
    tick.callOnTimeout([&] {
        if (done()) {
            finished = true;
            loop.quit();
        } else if (Clock::now() >= deadline) {
            loop.quit();
        }
    });
    tick.start(1);
    loop.exec();
    return finished || done();
}

bool RunWhilePumping(const std::function<void()>& work, int limitMs)
{
    std::atomic<bool> ended{false};
    std::thread thread([&] {
        work();
        ended.store(true);
    });
    bool inTime = PumpUntil([&] { return ended.load(); }, limitMs);
    // work bounds its own waits; keep serving the dialog until it returns.
    while (!ended.load())
        PumpUntil([&] { return ended.load(); }, 1000);
    thread.join();
    return inTime;
}

HANDLE StartServerWorker(HWND dialog, const char* host, const char* port)
{
    AppState.dialog.store(dialog);
    SetHostAndPort(host, port);
    return CreateThread(nullptr, 0, ServerWorker, nullptr, 0, nullptr);
}

bool WaitForWorkerEnd(HANDLE worker, int limitMs)
{
    if (worker == nullptr)
        return false;
    auto ended = [worker] {
        DWORD code = 0;
        return GetExitCodeThread(worker, &code) && code != STILL_ACTIVE;
    };
    bool inTime = PumpUntil(ended, limitMs);
    if (inTime)
        CloseHandle(worker);
    return inTime;
}

bool StopServerWorker(HANDLE worker, int limitMs)
{
    ReplaceSocket(AppState.listenSocket, INVALID_SOCKET);
    CloseConnection(AppState.acceptedSocket);
    return WaitForWorkerEnd(worker, limitMs);
}

int ListeningPort()
{
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(AppState.listenSocket.load(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return -1;
}

void EchoTest::SetUp()
{
    ResetAppState();
    AppState.peerTimeoutMs.store(TEST_PEER_TIMEOUT_MS);
}

void EchoTest::TearDown() { ResetAppState(); }
