// The event log: every activity of the program, as text in the log box.
#pragma once

#include <windows.h>

// Room for one formatted log text, terminator included; a longer text is cut.
#define LOG_LINE_CHARS 256

// The log box keeps the newest this many lines and drops older ones, so a
// server that runs for days stays as fast and as small as on its first day.
#define LOG_LINE_LIMIT 10000

// Formats one text (%d, %08x, %hs, ...) and adds it at the end of the log
// box, wherever the user has put the caret or a selection. Callable from
// either thread; a call from the worker returns once the text is in the
// log box, and at once when the dialog has ended. Adds no line end of its
// own.
void AppendLog(LPCWSTR format, ...);
