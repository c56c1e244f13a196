// For the display-stall benchmark, on both systems: a thread of the server
// process reads one line from standard input, waits (up to 30 s) until the
// dialog's log box holds it, and prints how many milliseconds that took,
// the lines the box then holds, how many gaps they have, and the number
// of the last exchange shown of each of the clients 1 to LOG_WATCH_CLIENTS.
// The clients' messages read "client K exchange I": each client's I count
// up from 0, one exchange after another, client 0's all before the others.
// A gap is an exchange missing between two of one client's that are shown,
// or, with client 0's still shown, any other client's first exchanges gone.
#pragma once

#include <windows.h>

#define LOG_WATCH_CLIENTS 4

// Starts the watching thread; it ends by itself.
void WatchLogForInput(HWND dialog);
