// The server side of the echo exchange, run on a thread of its own.
#pragma once

#include <windows.h>

// The pauses after an accept that failed for a reason that may last (the
// system out of descriptors, buffers or memory, the network down, the
// listener made unusable): the first is short enough that clients hardly
// notice, and each next one while the failures go on twice as long, up to
// the longest, so that a lasting failure costs a log line a second and
// almost no CPU.
#define ACCEPT_RETRY_PAUSE_MS 100
#define ACCEPT_LONGEST_PAUSE_MS 1000

// Listens on AppState's numeric address and port, as they are when it
// starts, and serves connections one after another: each gets one message
// logged and echoed within one peer deadline. A peer that fails its
// exchange loses only its own connection; a failed accept that was about
// one connection costs nothing more, any other a pause. Ends,
// closing its sockets, when set-up fails or the listening socket is gone.
// The parameter is not used.
DWORD WINAPI ServerWorker(LPVOID parameter);
