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
bool LimitWait(SOCKET s, int option, ULONGLONG deadline);
