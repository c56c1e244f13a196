// Runs a real modal dialog for a test: the test's script runs inside the
// dialog's event loop once WM_INITDIALOG has been handled, and the dialog is
// ended after it (or after a time limit, so a broken test cannot hang).
#pragma once

#include <QApplication>
#include <QWidget>
#include <functional>
#include <ostream>
#include <vector>

#include "platform/linux/winuser.h"

struct DialogCommand {
    int id;
    HWND control;
};

struct DialogRun {
    HWND dialog = nullptr;
    std::vector<DialogCommand> commands;  // every WM_COMMAND, in order
    INT_PTR result = 0;
};

// Runs dialogTemplate modally. script gets the dialog's handle; commands
// are recorded and none of them ends the dialog, except that the script
// may call EndDialog itself. Returns what the run saw.
DialogRun RunDialog(const DLGTEMPLATE& dialogTemplate, const std::function<void(HWND)>& script);

// The widget behind a control, to drive it as a user would.
QWidget* Widget(HWND dialog, int id);
// Reads the log box, as a user looking at it would see it: text inserted
// up to now is in its widget afterwards (insertions reach the widget once a
// display frame).
void SeeLog(HWND dialog);
// The dialog's controls, in template order.
QList<QWidget*> ControlsInTemplateOrder(HWND dialog);
// Presses a key on whatever has the focus (or on the given widget).
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* target = nullptr);

// Lets test failures show Qt strings as text.
void PrintTo(const QString& text, std::ostream* out);
