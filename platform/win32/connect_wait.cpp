// WaitForConnects on Winsock, with select: it reports a connect that
// failed among the sockets with an exception, and one that succeeded
// among the writable ones. WSAPoll reports no failed connect before
// Windows 10 version 2004, so it would leave a refused attempt waiting.
#include "platform/extensions.h"

int WaitForConnects(const SOCKET* sockets, int count, DWORD milliseconds, BOOL* ended)
{
    if (count < 0 || count > CONNECTS_WAITED_AT_MOST) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (int i = 0; i < count; ++i) {
        FD_SET(sockets[i], &writable);
        FD_SET(sockets[i], &failed);
    }
    timeval limit = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    if (select(0, nullptr, &writable, &failed, &limit) == SOCKET_ERROR)
        return SOCKET_ERROR;
    int over = 0;
    for (int i = 0; i < count; ++i) {
        ended[i] = FD_ISSET(sockets[i], &writable) || FD_ISSET(sockets[i], &failed);
        over += ended[i];
    }
    if (over == 0)
        WSASetLastError(WSAETIMEDOUT);
    return over;
}
