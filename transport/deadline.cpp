#include "transport/deadline.h"

#include "core/app_state.h"

ULONGLONG PeerDeadline(void)
{
    return GetTickCount64() + AppState.peerTimeoutMs.load();
}

DWORD TimeLeft(ULONGLONG deadline)
{
    ULONGLONG now = GetTickCount64();
    if (now < deadline)
        return static_cast<DWORD>(deadline - now);
    WSASetLastError(WSAETIMEDOUT);
    return 0;
}

bool LimitWait(SOCKET s, int option, ULONGLONG deadline)
{
    DWORD left = TimeLeft(deadline);
    return left > 0 && setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&left),
                                  sizeof left) != SOCKET_ERROR;
}
