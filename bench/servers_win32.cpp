// The two servers of the Windows benchmark, for bench/server_bench to run
// under Wine. "bare": a one-thread blocking Winsock echo loop. "program":
// the program's own main dialog, from its resources, started as server
// on 127.0.0.1 with a port the system picks, the focus left on Start.
// Either prints its port on a line of its own once it listens, then
// serves until it is killed; the program also watches its log for a line
// given on its standard input (bench/log_watch.h).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/log_watch.h"
#include "core/app_state.h"
#include "core/dialog_controller.h"
#include "frontend/resource.h"

namespace {

const int MESSAGE_SIZE = 100;
const UINT START_SERVER = WM_APP + 1;

int BoundPort(SOCKET s)
{
    sockaddr_in address = {};
    int length = sizeof address;
    return getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? ntohs(address.sin_port) : -1;
}

void ReportPort(int port)
{
    std::printf("%d\n", port);
    std::fflush(stdout);
}

bool Transfer(SOCKET s, char* bytes, bool receive)
{
    for (int done = 0; done < MESSAGE_SIZE;) {
        int count = receive ? recv(s, bytes + done, MESSAGE_SIZE - done, 0) : send(s, bytes + done, MESSAGE_SIZE - done, 0);
        if (count <= 0)
            return false;
        done += count;
    }
    return true;
}

int ServeBare()
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, SOMAXCONN) != 0)
        return 1;
    ReportPort(BoundPort(listener));
    for (;;) {
        SOCKET s = accept(listener, nullptr, nullptr);
        char bytes[MESSAGE_SIZE];
        if (s != INVALID_SOCKET && Transfer(s, bytes, true))
            Transfer(s, bytes, false);
        closesocket(s);
    }
}

void StartServer(HWND dialog)
{
    SetDlgItemTextW(dialog, IDC_HOST, L"127.0.0.1");
    SetDlgItemTextW(dialog, IDC_PORT, L"0");
    MainDlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDC_START));
    int port = -1;
    for (int i = 0; i < 500 && (port = BoundPort(AppState.listenSocket.load())) <= 0; ++i)
        Sleep(10);
    ReportPort(port);
    WatchLogForInput(dialog);
}

INT_PTR CALLBACK BenchProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        PostMessageW(dialog, START_SERVER, 0, 0);
    if (message == START_SERVER) {
        StartServer(dialog);
        return TRUE;
    }
    return MainDlgProc(dialog, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "bare") == 0) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        return ServeBare();
    }
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, BenchProc, 0);
    return 0;
}
