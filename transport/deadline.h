// Deadlines of the steps that wait for a peer, on GetTickCount64's clock.
#pragma once

#include <winsock2.h>

// When a step that waits for the peer gives up: AppState.peerTimeoutMs from
// now, on GetTickCount64's clock. However the peer trickles its bytes, the
// step's calls together never wait past it.
ULONGLONG PeerDeadline(void);

// Milliseconds left until deadline; 0, with WSAETIMEDOUT as the last
// error, once it has passed.
DWORD TimeLeft(ULONGLONG deadline);

// Lets the next wait on s last only as long as is left until deadline.
// False, with the last error set, when nothing is left or s is unusable.
// Sets nothing while the limit that WaitsLimitedAlready gave s is what is
// left, to the clock's millisecond.
bool LimitWait(SOCKET s, int option, ULONGLONG deadline);

// Says, for the calling thread, that both waits of s (SO_RCVTIMEO and
// SO_SNDTIMEO) last at most milliseconds already, as those of a socket
// accepted from a listener with them do: LimitWait then sets neither while
// just that is left, which saves a server two calls a connection (under
// Wine, two round trips to its server).
void WaitsLimitedAlready(SOCKET s, DWORD milliseconds);

// The time-out that both waits of s have, or 0 when they differ, cannot
// be read, or have none.
DWORD WaitLimitOf(SOCKET s);
