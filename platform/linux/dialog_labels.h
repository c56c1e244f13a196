// Names of a dialog's controls for assistive technology, taken from the
// template as the platform's dialog manager takes them.
#pragma once

#include "frontend/resource_tables.h"
#include "platform/linux/winuser.h"

class QWidget;

// Gives each edit field the text of the label that stands above it in its
// frame as its name, each combo box that label through a labelled-by
// relation (its name is its chosen item), and each frame without a title
// the text of its topmost label. widgets[i] is the control built from
// items[i].
void NameControlsAfterLabels(const DialogItem* items, QWidget* const* widgets, int count);
