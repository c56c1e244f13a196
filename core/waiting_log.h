// Log text on its way to the log box: added from either thread, taken by
// the dialog's thread between a display frame (16 ms) and a second after
// it first waited, or before that thread waits long for a peer. Adding costs a lock and a copy, never
// a wait for the dialog's thread, however busy or stalled it is. What
// waits is bounded by the log's cap on its own; taken together with the
// log box, the cap is kept over both.
#pragma once

#include <windows.h>

#include "core/log_cap.h"

// Everything that waited, oldest first.
struct WaitingText {
    LogString text;
    int lineEnds;
    bool dropped;  // its oldest lines went while it waited: older text is cut off from it
};

// Adds length characters of text, unless the log is closed. Returns 1 when
// the dialog's thread must be told that text waits (nobody has told it
// since it last took the text), else 0.
int AddWaitingLog(LPCWSTR text, int length);
// The dialog's thread could not be told: the next text added tells it.
void UntoldWaitingLog(void);
// Takes everything that waits, for the dialog's thread.
WaitingText TakeWaitingLog(void);
// Gives back the text that TakeWaitingLog took, once it is in the box: the
// next text to wait grows in its memory rather than in fresh memory.
void RecycleWaitingLog(LogString&& text);
// Opens the log to new text (TRUE), or closes it (FALSE): the dialog has
// ended, and what arrives from then on goes nowhere. Either drops what waits.
void OpenWaitingLog(BOOL open);
