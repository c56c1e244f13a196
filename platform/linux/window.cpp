// Window classes, the screen-standing main window, and the message loop.
#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QWidget>
#include <map>
#include <mutex>
#include <string>

#include "platform/linux/handles.h"
#include "platform/linux/winbase.h"

namespace {

struct ClassTable {
    std::mutex mutex;
    std::map<std::u16string, WNDCLASSW> classes;
};

ClassTable& Classes()
{
    static auto* table = new ClassTable;
    return *table;
}

bool FindClass(LPCWSTR name, WNDCLASSW* found)
{
    ClassTable& table = Classes();
    std::lock_guard lock(table.mutex);
    auto entry = table.classes.find(name);
    if (entry == table.classes.end())
        return false;
    *found = entry->second;
    return true;
}

// The loop that GetMessageW waits in; PostQuitMessage ends it.
struct QuitState {
    bool posted = false;
    int code = 0;
};

QuitState& Quit()
{
    static QuitState state;
    return state;
}

}  // namespace

WORD RegisterClassW(const WNDCLASSW* windowClass)
{
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ClassTable& table = Classes();
    std::lock_guard lock(table.mutex);
    table.classes[windowClass->lpszClassName] = *windowClass;
    return static_cast<WORD>(table.classes.size());
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter)
{
    WNDCLASSW windowClass;
    if (className == nullptr || !FindClass(className, &windowClass)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (windowClass.hIcon != nullptr)
        QApplication::setWindowIcon(*reinterpret_cast<QIcon*>(windowClass.hIcon));
    HWND window = RegisterWindow({nullptr, parent, 0, windowClass.lpfnWndProc, nullptr});
    CREATESTRUCTW create = {parameter, instance, menu, parent, height, width, y, x,
                            static_cast<LONG>(style), title, className, exStyle};
    windowClass.lpfnWndProc(window, WM_CREATE, 0, (LPARAM)&create);
    WindowRecord record;
    return LookupWindow(window, &record) ? window : nullptr;
}

BOOL ShowWindow(HWND, int)
{
    return FALSE;
}

// Paints the window now, children included, as the platform sends it
// WM_PAINT at once, rather than when the event loop next runs: a thread
// about to block shows what it has just changed meanwhile.
BOOL UpdateWindow(HWND window)
{
    WindowRecord record;
    if (!LookupWindow(window, &record))
        return FALSE;
    // What is waiting to be painted, and only that, as an update request
    // of the window's top-level widget paints it.
    if (record.widget != nullptr)
        QCoreApplication::sendPostedEvents(record.widget->window(), QEvent::UpdateRequest);
    return TRUE;
}

BOOL DestroyWindow(HWND window)
{
    WindowRecord record;
    if (!LookupWindow(window, &record)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (record.procedure != nullptr)
        record.procedure(window, WM_DESTROY, 0, 0);
    UnregisterWindow(window);
    return TRUE;
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

HGDIOBJ GetStockObject(int object)
{
    return reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(object) + 1);
}

BOOL GetMessageW(LPMSG message, HWND, UINT, UINT)
{
    QuitState& quit = Quit();
    while (!quit.posted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    *message = {};
    message->message = WM_QUIT;
    message->wParam = static_cast<WPARAM>(quit.code);
    return FALSE;
}

int TranslateAcceleratorW(HWND, HACCEL, LPMSG)
{
    return 0;
}

BOOL TranslateMessage(const MSG*)
{
    return FALSE;
}

LRESULT DispatchMessageW(const MSG*)
{
    return 0;
}

void PostQuitMessage(int exitCode)
{
    Quit() = {true, exitCode};
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::None));
}
