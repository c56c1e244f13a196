// Real modal dialogs for the Linux tests, and the Qt widgets behind their
// controls, to drive them as a user would.
#pragma once

#include <QApplication>
#include <QWidget>
#include <functional>
#include <ostream>
#include <vector>

#include "frontend/resource_tables.h"
#include "tests/support/dialog_run.h"

// Runs dialogTemplate modally, as RunMainDialog runs the main dialog.
DialogRun RunDialog(const DialogTable& dialogTemplate, const std::function<void(HWND)>& script);

// The widget behind a control, to drive it as a user would.
QWidget* Widget(HWND dialog, int id);
// The dialog's controls, in template order.
QList<QWidget*> ControlsInTemplateOrder(HWND dialog);
// Presses a key on whatever has the focus (or on the given widget).
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* target = nullptr);

// Lets test failures show Qt strings as text.
void PrintTo(const QString& text, std::ostream* out);
