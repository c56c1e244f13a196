// The address and port that the user gave at Start, as the resolver sees them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// Resolves host and port texts (either may be null) for a stream socket,
// of either family, with the resolver flags given. Returns the resolver's
// result: 0 with the list in *list, or its failure code (also the last
// error). A port text is read as the resolver reads a number (white space,
// a sign, decimal digits), the same on every system: a number above 65535,
// or below 0, fails as an unknown service rather than wrapping round to
// another port as some resolvers let it; any other text is a service name.
int ResolveEndpoint(const char* host, const char* port, int flags, addrinfo** list);

// Whether a port text leaves the port to the system: null, empty, or 0 in
// any spelling the resolver reads as 0 ("+0", " 00", ...).
bool SystemChoosesPort(const char* port);

// Sets a boolean option of s. A failure is logged with failure's format,
// which takes the error code, and s goes on without the option.
void SetOptionOrLog(SOCKET s, int level, int option, DWORD value, LPCWSTR failure);

// Lets an IPv6 socket also serve and reach IPv4 peers, as IPv4-mapped
// addresses (::ffff:192.0.2.7), on every system: Windows makes IPv6
// sockets IPv6-only unless told otherwise. Nothing for other families.
void AllowMappedAddresses(SOCKET s, int family);
