// The server side of the echo exchange, run on a thread of its own.
#pragma once

#include <windows.h>

// The pause after an accept that failed for want of descriptors, buffers
// or memory: long enough that a lasting shortage neither spins nor floods
// the log, short enough that clients hardly notice.
#define ACCEPT_RETRY_PAUSE_MS 100

// Listens on AppState's numeric address and port, as they are when it
// starts, and serves connections one after another: each gets one message
// logged and echoed within one peer deadline. A peer that fails its
// exchange loses only its own connection; a failed accept costs nothing
// more, unless the system ran out of resources, then a moment. Ends,
// closing its sockets, when set-up fails or the listening socket is gone.
// The parameter is not used.
DWORD WINAPI ServerWorker(LPVOID parameter);
