// The controls of a dialog template as Qt widgets, and the control messages
// the program sends them.
#pragma once

#include "frontend/resource_tables.h"
#include "platform/linux/winuser.h"

class QRect;
class QString;
class QWidget;

// Builds the widget for one template item as a child of parent, placed at
// rect (in pixels).
QWidget* CreateControl(const DialogItem& item, const QRect& rect, QWidget* parent);

// Text as a widget holds it: "\r\n" and lone "\r" become "\n".
QString ToWidgetText(LPCWSTR text);

// Carries out a window message on a control's widget, on its own thread.
LRESULT ControlMessage(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam);

// True for a push button that reports clicks as commands.
bool IsPushButton(const DialogItem& item);
bool IsDefaultButton(const DialogItem& item);
// True for a multi-line edit field that leaves Enter to the dialog.
bool PassesEnterToDialog(const DialogItem& item);
