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

namespace {

// The socket whose waits last at most limitMs already; for one thread.
struct PresetLimit {
    SOCKET s;
    DWORD limitMs;
};

thread_local PresetLimit preset = {INVALID_SOCKET, 0};

DWORD ReadWaitLimit(SOCKET s, int option)
{
    DWORD milliseconds = 0;
    int size = sizeof milliseconds;
    if (getsockopt(s, SOL_SOCKET, option, reinterpret_cast<char*>(&milliseconds), &size) == SOCKET_ERROR)
        return 0;
    return milliseconds;
}

}  // namespace

bool LimitWait(SOCKET s, int option, ULONGLONG deadline)
{
    DWORD left = TimeLeft(deadline);
    if (left == 0)
        return false;
    // A wait that starts now and lasts the preset limit ends at the
    // deadline, to the clock's millisecond.
    if (s == preset.s && preset.limitMs == left)
        return true;
    return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&left), sizeof left) != SOCKET_ERROR;
}

void WaitsLimitedAlready(SOCKET s, DWORD milliseconds)
{
    preset = {s, milliseconds};
}

DWORD WaitLimitOf(SOCKET s)
{
    const DWORD receive = ReadWaitLimit(s, SO_RCVTIMEO);
    return receive == ReadWaitLimit(s, SO_SNDTIMEO) ? receive : 0;
}
