#include "frontend/main_window.h"

#include "core/app_state.h"
#include "core/dialog_controller.h"
#include "frontend/resource.h"

namespace {

// Room for the class name and the title.
const int RESOURCE_STRING_CHARS = 100;

// The dialog thread's only: set once the main dialog has run.
bool dialogRan = false;

// The dialog ends with the command that closed it, 1 or 2; -1 (or 0, for
// a bad owner) says it was never made.
void RunMainDialog(HWND window)
{
    dialogRan = DialogBoxParamW(AppState.instance, MAKEINTRESOURCEW(IDD_MAIN), window, MainDlgProc, 0) > 0;
}

}  // namespace

void RegisterMainClass(HINSTANCE instance, LPCWSTR className)
{
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
}

BOOL CreateMainWindow(HINSTANCE instance, int showCommand)
{
    AppState.instance = instance;
    WCHAR className[RESOURCE_STRING_CHARS];
    WCHAR title[RESOURCE_STRING_CHARS];
    LoadStringW(instance, IDS_WINDOW_CLASS, className, RESOURCE_STRING_CHARS);
    RegisterMainClass(instance, className);
    LoadStringW(instance, IDS_TITLE, title, RESOURCE_STRING_CHARS);
    HWND window = CreateWindowExW(0, className, title, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return FALSE;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return TRUE;
}

int MainWindowExitCode(void)
{
    return dialogRan ? 0 : 1;
}

// All of the program's work happens inside WM_CREATE: the dialog runs, and
// when it ends the window is destroyed before its creation completes.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        RunMainDialog(window);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
    case WM_PAINT:
    case WM_COMMAND:
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
