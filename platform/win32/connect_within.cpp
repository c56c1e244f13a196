// ConnectWithin on Winsock: a non-blocking connect, a bounded wait for
// its outcome, then the socket back in blocking mode.
#include "platform/extensions.h"

namespace {

int SetBlocking(SOCKET s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking);
}

// Waits until the pending connect on s succeeds or fails; SOCKET_ERROR
// with the last error set when it failed or the time ran out.
int AwaitConnect(SOCKET s, DWORD milliseconds)
{
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR)
        return SOCKET_ERROR;
    if (ready == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return SOCKET_ERROR;
    }
    int error = 0;
    int size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == SOCKET_ERROR)
        return SOCKET_ERROR;
    if (error != 0) {
        WSASetLastError(error);
        return SOCKET_ERROR;
    }
    return 0;
}

}  // namespace

int ConnectWithin(SOCKET s, const struct sockaddr* address, int addressLength, DWORD milliseconds)
{
    if (SetBlocking(s, false) == SOCKET_ERROR)
        return SOCKET_ERROR;
    int result = connect(s, address, addressLength);
    if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        result = AwaitConnect(s, milliseconds);
    // The outcome's error code outlives switching back.
    int error = WSAGetLastError();
    if (SetBlocking(s, true) == SOCKET_ERROR && result == 0)
        return SOCKET_ERROR;
    WSASetLastError(error);
    return result;
}
