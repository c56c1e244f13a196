// For the display-stall benchmark, on both systems: a thread of the server
// process reads one line from standard input, waits (up to 30 s) until the
// dialog's log box holds it, and prints how many milliseconds that took.
#pragma once

#include <windows.h>

// Starts the watching thread; it ends by itself.
void WatchLogForInput(HWND dialog);
