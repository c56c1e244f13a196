// Connecting to a server that a name stands for: its addresses raced as
// Happy Eyeballs (RFC 8305) races them, so that an address that never
// answers does not hide one that does.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// How long an attempt has the stage to itself before the next one starts
// beside it, in milliseconds.
#define CONNECT_ATTEMPT_DELAY_MS 250

// Connects to one of the addresses in list before deadline (on
// GetTickCount64's clock) and returns its socket, connected and blocking;
// INVALID_SOCKET when none answered in time. The attempts take the
// addresses in the resolver's order, the families interleaved from the
// first one's; each starts CONNECT_ATTEMPT_DELAY_MS after the one before,
// or at once when an attempt fails, while earlier ones go on. The first to
// connect wins, and every other attempt is closed at once, with nothing
// sent on it. *created says whether any socket could be made at all.
// Runs on the calling thread, and blocks it.
SOCKET ConnectFirstAnswering(const addrinfo* list, ULONGLONG deadline, BOOL* created);
