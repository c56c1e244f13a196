// The logic behind the main dialog: opening, Start, Send and close.
#pragma once

#include <windows.h>

// Positions of the roles in the role list.
#define ROLE_SERVER 0
#define ROLE_CLIENT 1

// The main dialog's procedure.
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Where the dialog goes when it opens: centred in the parent's client area,
// never at a negative position. Halves toward zero (7 gives 3, -7 gives 0).
int CentredPosition(LONG parentExtent, LONG dialogExtent);
