// Identifiers of the program's resources and of the main dialog's controls.
#pragma once

#include <windows.h>

#define IDS_TITLE 1
#define IDS_WINDOW_CLASS 3
#define IDI_APP 101
#define IDR_ACCEL 3
#define IDD_MAIN 105

// Commands of the accelerator table; the main window ignores both.
#define IDM_ALT_F4 40002
#define IDM_ALT_SLASH 40003

#define IDC_START 1003
#define IDC_LOG 1004
#define IDC_DATA 1005
#define IDC_SEND 1006
#define IDC_PORT 1008
#define IDC_HOST 1011
#define IDC_ROLE 1012
#define IDC_STATIC (-1)
