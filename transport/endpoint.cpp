#include "transport/endpoint.h"

namespace {

const unsigned long LARGEST_PORT = 65535;

bool IsPortBeyondRange(const char* port)
{
    if (port == nullptr || *port == '\0')
        return false;
    unsigned long value = 0;
    for (const char* digit = port; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9')
            return false;  // a service name
        if (value <= LARGEST_PORT)
            value = value * 10 + static_cast<unsigned long>(*digit - '0');
    }
    return value > LARGEST_PORT;
}

}  // namespace

int ResolveEndpoint(const char* host, const char* port, int flags, addrinfo** list)
{
    *list = nullptr;
    if (IsPortBeyondRange(port)) {
        WSASetLastError(EAI_SERVICE);
        return EAI_SERVICE;
    }
    addrinfo hints = {};
    hints.ai_flags = flags;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(host, port, &hints, list);
}
