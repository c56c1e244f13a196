// The window handle table. A handle is a number that maps to its window
// while the window lives; a stale handle maps to nothing, so a call with it
// fails instead of touching a destroyed widget.
#pragma once

#include <memory>

#include "platform/linux/winuser.h"

class QWidget;
class DialogChannel;

struct WindowRecord {
    QWidget* widget = nullptr;  // null for a window that has no widget of its own
    HWND parent = nullptr;
    int id = 0;                 // control identifier within its dialog
    WNDPROC procedure = nullptr;
    // The dialog's cross-thread channel, shared by the dialog and its controls.
    std::shared_ptr<DialogChannel> channel;
};

HWND RegisterWindow(const WindowRecord& record);
void UnregisterWindow(HWND window);
// Copies the record of a live window; false for a stale or null handle.
bool LookupWindow(HWND window, WindowRecord* record);
// The widget of a live window, for the widget's own (GUI) thread only.
QWidget* WidgetOfWindow(HWND window);
// The handle of a registered widget, or null.
HWND WindowOfWidget(const QWidget* widget);
// The first window registered with this parent and control identifier, or
// null. Callable from any thread.
HWND FindChildWindow(HWND parent, int id);
