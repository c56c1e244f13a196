// WaitForSockets on Winsock, with select: it reports a connect that
// failed among the sockets with an exception, and one that succeeded
// among the writable ones. WSAPoll reports no failed connect before
// Windows 10 version 2004, so it would leave a refused attempt waiting.
#include "platform/extensions.h"

int WaitForSockets(const SOCKET* sockets, int count, int what, DWORD milliseconds, int* found)
{
    if (count < 0 || count > SOCKETS_WAITED_AT_MOST || (what != WAIT_RECEIVE && what != WAIT_CONNECT)) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    fd_set* chosen = what == WAIT_RECEIVE ? &readable : &writable;
    for (int i = 0; i < count; ++i) {
        FD_SET(sockets[i], chosen);
        FD_SET(sockets[i], &failed);
    }
    timeval limit = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    if (select(0, &readable, &writable, &failed, &limit) == SOCKET_ERROR)
        return SOCKET_ERROR;
    int over = 0;
    for (int i = 0; i < count; ++i) {
        found[i] = FD_ISSET(sockets[i], &failed) ? SOCKET_FAILED
                   : FD_ISSET(sockets[i], chosen) ? SOCKET_READY : SOCKET_WAITING;
        over += found[i] != SOCKET_WAITING;
    }
    if (over == 0)
        WSASetLastError(WSAETIMEDOUT);
    return over;
}
