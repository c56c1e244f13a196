#include "core/app_state.h"

#include <cstdlib>

APP_STATE AppState = {
    nullptr, {nullptr}, {}, {}, {INVALID_SOCKET}, nullptr, {INVALID_SOCKET}, {INVALID_SOCKET},
    nullptr, {PEER_TIMEOUT_MS},
};

NarrowText MakeNarrowText(char* text)
{
    return NarrowText(text, free);
}

void ReplaceAndCloseOld(std::atomic<SOCKET>& field, SOCKET value)
{
    SOCKET old = field.exchange(value);
    if (old != INVALID_SOCKET)
        closesocket(old);
}

void CloseConnection(std::atomic<SOCKET>& field)
{
    SOCKET old = field.exchange(INVALID_SOCKET);
    if (old == INVALID_SOCKET)
        return;
    shutdown(old, SD_BOTH);
    closesocket(old);
}

void ReplaceClientAddresses(addrinfo* list)
{
    addrinfo* old = AppState.clientAddresses;
    AppState.clientAddresses = list;
    if (old != nullptr)
        freeaddrinfo(old);
}
