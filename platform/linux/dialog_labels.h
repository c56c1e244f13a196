// Names of a dialog's controls for assistive technology, from the template
// by the rule both systems share (platform/dialog_labels.h).
#pragma once

#include "frontend/resource_tables.h"
#include "platform/linux/winuser.h"

class QWidget;

// Gives each edit field the text of its label as its name, and each combo
// box that label through a labelled-by relation (its name is its chosen
// item). widgets[i] is the control built from items[i].
void NameControlsAfterLabels(const DialogItem* items, QWidget* const* widgets, int count);
