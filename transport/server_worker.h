// The server side of the echo exchange, run on a thread of its own.
#pragma once

#include "platform/windows.h"

// Listens on AppState's numeric address and port and serves connections
// one after another: each gets one message logged and echoed. A peer that
// fails its exchange loses only its own connection. Ends, closing its
// sockets, when set-up or accept fails. The parameter is not used.
DWORD WINAPI ServerWorker(LPVOID parameter);
