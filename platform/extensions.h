// What this program relies on beyond the platform's own API. The Linux
// stand-ins (platform/linux/) provide it with the rest; on Windows,
// platform/win32/ adds it to the real system. The formatter in
// platform/format.cpp serves both.
#pragma once

#include <cstdarg>

#include <winsock2.h>
#include <windows.h>

// Appends lParam's text at the end of a multi-line edit control. The
// caret, the selection and the view stay as the user left them, except
// that a view that showed the end goes on showing it.
#define EM_APPENDTEXT 0x04F1
// Removes the first wParam characters of a multi-line edit control. The
// caret, the selection and the view stay on the text they were on, and
// move to the start when that text went.
#define EM_DROPTEXT 0x04F2

// The most sockets WaitForSockets takes at once: the platform's select
// takes no more by default.
#define SOCKETS_WAITED_AT_MOST 64
// What WaitForSockets waits for on each socket.
#define WAIT_RECEIVE 1  // bytes to receive, or the peer's close or reset
#define WAIT_CONNECT 2  // the end of a connect under way, connected or failed
// What WaitForSockets found of each socket.
#define SOCKET_WAITING 0  // nothing yet
#define SOCKET_READY 1    // a receive would not wait; a connect connected
#define SOCKET_FAILED 2   // a connect that is over, not known to have connected: SO_ERROR tells
// Waits until at least one of count sockets is ready as what asks, or
// milliseconds have passed. Sets found[i] for each socket and returns how
// many are no longer SOCKET_WAITING: 0, with WSAETIMEDOUT as the last
// error, when the time ran out; SOCKET_ERROR when the wait failed. A
// signal neither ends the wait nor lengthens it.
int WaitForSockets(const SOCKET* sockets, int count, int what, DWORD milliseconds, int* found);

// printf-style wide formatting into buffer, which holds count characters
// terminator included. Directives: %d %i %u %x %X %c %s (wide) %hs (narrow
// UTF-8, invalid bytes shown as U+FFFD) %ls %%, with the flags '-' and '0',
// a width, and the size prefixes h and l. The output is cut to fit, never
// inside a surrogate pair, and always terminated when count > 0. Returns
// the number of characters stored, terminator excluded.
// The platform's own bounded formatters (StringCchPrintfW) read %hs one
// byte per character in the C runtime's locale, whatever the code page,
// so UTF-8 text from a peer would show garbled.
int FormatTextV(LPWSTR buffer, int count, LPCWSTR format, va_list args);
int FormatText(LPWSTR buffer, int count, LPCWSTR format, ...);
