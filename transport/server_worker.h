// The server side of the echo exchange, run on a thread of its own.
#pragma once

#include <windows.h>

// Listens on AppState's numeric address and port, as they are when it
// starts, and serves connections one after another: each gets one message
// logged and echoed within one peer deadline. A peer that fails its
// exchange loses only its own connection, and a failed accept only a
// moment. Ends, closing its sockets, when set-up fails or the listening
// socket is gone. The parameter is not used.
DWORD WINAPI ServerWorker(LPVOID parameter);
