// The application's entry: the main window runs the dialog while it is
// created, so the program normally ends here with 0, never entering the
// loop; with 1 when the dialog could not be made.
#include "frontend/main_window.h"
#include "frontend/resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    if (!CreateMainWindow(instance, showCommand))
        return MainWindowExitCode();
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCEL));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
