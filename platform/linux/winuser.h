// Windows, dialogs and their controls, message boxes and resources.
#pragma once

#include "platform/linux/windef.h"

typedef INT_PTR(CALLBACK* DLGPROC)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
typedef LRESULT(CALLBACK* WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef void(CALLBACK* TIMERPROC)(HWND window, UINT message, UINT_PTR id, DWORD time);

// Messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_QUIT 0x0012
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_APP 0x8000
#define EM_GETLINECOUNT 0x00BA
#define EM_LINEINDEX 0x00BB
#define EM_REPLACESEL 0x00C2
#define EM_LINEFROMCHAR 0x00C9
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_INSERTSTRING 0x014A
#define CB_SETCURSEL 0x014E
#define CB_ERR (-1)
#define BN_CLICKED 0

// Standard command identifiers.
#define IDOK 1
#define IDCANCEL 2

// Window styles.
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

// Control styles.
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_GROUPBOX 0x7L
#define BS_TYPEMASK 0xFL
#define ES_LEFT 0x0L
#define ES_MULTILINE 0x4L
#define ES_AUTOVSCROLL 0x40L
#define ES_AUTOHSCROLL 0x80L
#define ES_READONLY 0x800L
#define ES_WANTRETURN 0x1000L
#define SS_LEFT 0x0L
#define CBS_DROPDOWNLIST 0x3L
#define CBS_SORT 0x100L

// Control kinds of a dialog template.
#define WC_BUTTON TEXT("BUTTON")
#define WC_EDIT TEXT("EDIT")
#define WC_STATIC TEXT("STATIC")
#define WC_COMBOBOX TEXT("COMBOBOX")

// A dialog template: on this system the program's own table of the dialog
// and its controls (DialogTable, in frontend/resource_tables.h).
typedef const struct DialogTable* LPCDLGTEMPLATEW;

// Dialogs. DialogBoxIndirectParamW runs the template modally, sends the
// procedure WM_INITDIALOG and then WM_COMMAND for button presses, Escape
// and the close box (IDCANCEL); it returns the value given to EndDialog.
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate,
                                HWND owner, DLGPROC procedure, LPARAM initParam);
// DialogBoxParamW runs the RT_DIALOG resource of that name the same way.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC procedure, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int count);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
// Callable from any thread: a call from another thread waits until the
// dialog's thread has carried it out, and returns 0 at once when the
// dialog has ended.
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// From any thread: the message goes to the window's procedure on its own
// thread, after what is already queued there; FALSE once the window is gone.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A dialog's timers, for its own thread: every milliseconds, WM_TIMER with
// the timer's id goes to the dialog procedure (or to procedure, when
// given) until KillTimer. Setting a timer again restarts it.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
HWND SetFocus(HWND window);
HWND GetFocus(void);
HWND GetParent(HWND window);

// Geometry, in pixels on the screen.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// Message boxes: modal, OK button only.
#define MB_OK 0x0L
#define MB_ICONERROR 0x10L
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Resources. A module's resources are data that the program links in, as a
// resource compiler would; an instance handle is the address of the
// program's ResourceTable (frontend/resource_tables.h).
#define RT_ICON 3
#define RT_STRING 6
#define RT_ACCELERATOR 9
#define RT_GROUP_ICON 14
#define RT_DIALOG 5

#define FALT 0x10
#define FVIRTKEY 0x01
#define FNOINVERT 0x02
#define VK_F4 0x73

typedef struct ACCEL {
    BYTE fVirt;
    WORD key;
    WORD cmd;
} ACCEL;

HRSRC FindResourceW(HINSTANCE instance, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HINSTANCE instance, HRSRC resource);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int count);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HACCEL LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name);

// Window classes and windows. A window created without a parent stands for
// the screen: it shows nothing of its own, its client area is the screen's
// available area, and its class icon becomes the application's icon.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CW_USEDEFAULT ((int)0x80000000)
#define SW_SHOWDEFAULT 10
#define WHITE_BRUSH 0

typedef struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
} WNDCLASSW;

typedef struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy, cx, y, x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTW;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

WORD RegisterClassW(const WNDCLASSW* windowClass);
// Sends WM_CREATE; a window that its procedure destroyed meanwhile yields NULL.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter);
BOOL ShowWindow(HWND window, int showCommand);
// Paints the window and its children at once; only for the window's own thread.
BOOL UpdateWindow(HWND window);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HGDIOBJ GetStockObject(int object);

// The message loop: GetMessageW waits in the event loop and returns FALSE
// once PostQuitMessage was called. Keys reach the widgets directly, so no
// key message comes through here for accelerators to translate.
BOOL GetMessageW(LPMSG message, HWND window, UINT first, UINT last);
int TranslateAcceleratorW(HWND window, HACCEL table, LPMSG message);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
void PostQuitMessage(int exitCode);

// The program's entry, called by the platform once its application exists.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
