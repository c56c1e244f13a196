#include "transport/endpoint.h"

#include "core/app_state.h"

int ResolveEndpoint(int flags, addrinfo** list)
{
    addrinfo hints = {};
    hints.ai_flags = flags;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // Held for the call, so a Start meanwhile cannot free the texts under it.
    NarrowText host = AppState.hostName.load();
    NarrowText port = AppState.portName.load();
    *list = nullptr;
    return getaddrinfo(host.get(), port.get(), &hints, list);
}
