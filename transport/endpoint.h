// The address and port that the user gave at Start, as the resolver sees them.
#pragma once

#include "platform/winsock2.h"

// Resolves AppState's host and port texts for a stream socket, of either
// family, with the resolver flags given. Returns the resolver's result: 0
// with the list in *list, or its failure code (also the last error).
int ResolveEndpoint(int flags, addrinfo** list);
