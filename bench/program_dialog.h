// Runs the program's main dialog, with its real procedure, for a benchmark.
#pragma once

#include <functional>
#include <string>

#include "platform/linux/windows.h"

// Runs the main dialog modally; script runs on the dialog's thread once the
// dialog is shown, and the dialog is closed (as the user would) once
// finished() holds, checked every few milliseconds.
void RunProgramDialog(const std::function<void(HWND)>& script, const std::function<bool()>& finished);

// Presses a button of the dialog as a click would.
void Press(HWND dialog, int id);

// A process's resident memory in KiB (this process's by default).
long ResidentKiB(int pid = 0);
