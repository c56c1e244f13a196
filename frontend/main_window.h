// The main window: it owns the main dialog, which runs while the window is
// being created.
#pragma once

#include <windows.h>

// Creates the main window (and so runs the dialog). TRUE when a main window
// exists afterwards; once the dialog has ended it does not, so FALSE.
BOOL CreateMainWindow(HINSTANCE instance, int showCommand);
// The program's exit code once the main window has gone: 0 when the main
// dialog ran and was closed, 1 when it could not be made.
int MainWindowExitCode(void);
void RegisterMainClass(HINSTANCE instance, LPCWSTR className);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
