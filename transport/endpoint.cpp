#include "transport/endpoint.h"

#include <charconv>
#include <cstring>

#include "core/event_log.h"

namespace {

const long LARGEST_PORT = 65535;
// What ReadPort finds besides a port number.
const long PORT_NAME = -1;          // a service name, for the resolver to look up
const long PORT_BEYOND_RANGE = -2;  // a number that is no port

// Room for a port number as digits, with the terminator.
const int PORT_DIGITS_SIZE = 8;

// The port text as the resolver reads it: a number when, after white
// space and an optional sign, it is decimal digits to its end (an empty
// text reads as 0). Anything else is a service name.
long ReadPort(const char* text)
{
    if (*text == '\0')
        return 0;
    const char* at = text + strspn(text, " \t\n\v\f\r");
    const bool negative = *at == '-';
    if (*at == '+' || *at == '-')
        ++at;
    const size_t digits = strspn(at, "0123456789");
    if (digits == 0 || at[digits] != '\0')
        return PORT_NAME;
    long value = 0;
    for (size_t i = 0; i < digits && value <= LARGEST_PORT; ++i)
        value = value * 10 + (at[i] - '0');
    return value > LARGEST_PORT || (negative && value != 0) ? PORT_BEYOND_RANGE : value;
}

}  // namespace

int ResolveEndpoint(const char* host, const char* port, int flags, addrinfo** list)
{
    *list = nullptr;
    const long number = port != nullptr ? ReadPort(port) : PORT_NAME;
    if (number == PORT_BEYOND_RANGE) {
        WSASetLastError(EAI_SERVICE);
        return EAI_SERVICE;
    }
    // A number goes to the resolver in plain digits, which every system's
    // resolver reads alike.
    char digits[PORT_DIGITS_SIZE] = {};
    if (number >= 0)
        std::to_chars(digits, digits + PORT_DIGITS_SIZE - 1, number);
    addrinfo hints = {};
    hints.ai_flags = flags;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(host, number >= 0 ? digits : port, &hints, list);
}

bool SystemChoosesPort(const char* port)
{
    return port == nullptr || ReadPort(port) == 0;
}

void SetOptionOrLog(SOCKET s, int level, int option, DWORD value, LPCWSTR failure)
{
    if (setsockopt(s, level, option, reinterpret_cast<const char*>(&value), sizeof value) == SOCKET_ERROR)
        AppendLog(failure, WSAGetLastError());
}

void AllowMappedAddresses(SOCKET s, int family)
{
    if (family == AF_INET6)
        SetOptionOrLog(s, IPPROTO_IPV6, IPV6_V6ONLY, FALSE,
                       TEXT("ERROR: setsockopt(IPV6_V6ONLY) failed with error = %d\r\n"));
}
