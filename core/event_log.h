// The event log: every activity of the program, as text in the log box.
#pragma once

#include <windows.h>

#include "core/log_cap.h"

// Room for one formatted log text, terminator included. A longer text is
// cut, but keeps its line end.
#define LOG_LINE_CHARS 256

// A display frame, in milliseconds: the soonest that waiting text goes in.
#define LOG_FRAME_MS 16

// Posted to the dialog when log text starts waiting for it.
#define WM_LOGWAITING (WM_APP + 0x4C)

// Formats one text (%d, %08x, %hs, ...) and adds it at the end of the log
// box, wherever the user has put the caret or a selection. Callable from
// either thread, and never waits for the dialog's thread: the text joins
// the waiting log and shows in call order, a display frame (16 ms) later
// when the log box is quick, at most a second later when it is slow. Once
// the dialog has ended it goes nowhere. Adds no line end of its own.
void AppendLog(LPCWSTR format, ...);

// The procedure of the dialog that holds the log box passes every message
// here first. Returns TRUE when the message was the log's own, and FALSE
// for every other one, including WM_INITDIALOG and WM_DESTROY, which open
// and close the log and are for the dialog procedure too.
BOOL LogDialogMessage(HWND dialog, UINT message, WPARAM wParam);

// On the dialog's thread: puts the waiting text into the log box now,
// first dropping the oldest lines that the cap drops of the two together,
// and paints the box, so that it shows even while the thread then blocks.
void FlushLog(HWND dialog);
