#include "tests/support/echo_support.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/event_log.h"
#include "frontend/resource.h"
#include "transport/server_worker.h"

void ResetAppState()
{
    ReplaceAndCloseOld(AppState.clientSocket, INVALID_SOCKET);
    ReplaceAndCloseOld(AppState.listenSocket, INVALID_SOCKET);
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

WideText LogText(HWND dialog)
{
    FlushLog(dialog);
    return LogBoxText(dialog);
}

WideText LogBoxText(HWND dialog)
{
    LRESULT length = SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXTLENGTH, 0, 0);
    WideText text(static_cast<size_t>(length) + 1, TEXT('\0'));
    LRESULT copied = SendDlgItemMessageW(dialog, IDC_LOG, WM_GETTEXT, text.size(),
                                         reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

WideText Wide(const std::string& utf8)
{
    // Decoded here rather than with the program's formatter, which the
    // expectations check. The tests write valid UTF-8; a byte that does not
    // start a whole sequence becomes U+FFFD.
    WideText wide;
    for (size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || at + length > utf8.size()) {
            wide += static_cast<WCHAR>(0xFFFD);
            ++at;
            continue;
        }
        char32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i)
            point = point << 6 | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
        at += length;
        if (point >= 0x10000) {
            wide += static_cast<WCHAR>(0xD800 + ((point - 0x10000) >> 10));
            point = 0xDC00 + ((point - 0x10000) & 0x3FF);
        }
        wide += static_cast<WCHAR>(point);
    }
    return wide;
}

std::string Narrow(const WideText& wide)
{
    if (wide.empty())
        return {};
    const int length = static_cast<int>(wide.size());
    std::string narrow(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

int Occurrences(const WideText& text, const WideText& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != WideText::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::string HandleText(SOCKET s)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(s));
    return text;
}

bool UnderWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

WideText ResetSeenAsClose(WideText log, const WideText& resetLine, const WideText& closedLine)
{
    if (!UnderWine())
        return log;
    for (size_t at = log.find(resetLine); at != WideText::npos; at = log.find(resetLine, at + closedLine.size()))
        log.replace(at, resetLine.size(), closedLine);
    return log;
}

DialogRun RunLoggingDialog(const std::function<void(HWND)>& script)
{
    return RunMainDialog([&](HWND dialog) {
        AppState.dialog.store(dialog);
        script(dialog);
    });
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
    ReplaceAndCloseOld(AppState.listenSocket, INVALID_SOCKET);
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
