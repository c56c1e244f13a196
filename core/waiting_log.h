// Log text on its way to the log box: added from either thread, taken by
// the dialog's thread once a frame. Adding costs a lock and a copy, never
// a wait for the dialog's thread, however busy or stalled it is. What
// waits is bounded by the log's own cap: when more waits, the oldest lines
// go, as the log box would drop them anyway.
#pragma once

#include <string>

#include <windows.h>

// Wide text as the log box takes it.
typedef std::basic_string<WCHAR> LogText;

// Adds length characters of text, unless the log is closed. Returns 1 when
// the dialog's thread must be told that text waits (nothing waited, and
// nobody has told it since it last took the text), else 0.
int AddWaitingLog(LPCWSTR text, int length);
// Takes everything that waits, oldest first, for the dialog's thread.
LogText TakeWaitingLog(void);
// Opens the log to new text (TRUE), or closes it (FALSE): the dialog has
// ended, and what arrives from then on goes nowhere. Either drops what waits.
void OpenWaitingLog(BOOL open);
