// The address and port that the user gave at Start, as the resolver sees them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// Resolves host and port texts (either may be null) for a stream socket,
// of either family, with the resolver flags given. Returns the resolver's
// result: 0 with the list in *list, or its failure code (also the last
// error). A port number above 65535 fails as an unknown service, rather
// than wrapping round to another port as some resolvers let it.
int ResolveEndpoint(const char* host, const char* port, int flags, addrinfo** list);
