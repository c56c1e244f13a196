// Names of a dialog's fields for assistive technology, decided once for
// both systems. A screen reader announces an input field by its name, and a
// dialog template names none: a field (an edit control or a combo box) is
// named by the static text that stands above it in the same frame (group
// box), the nearest one if several do. Only the controls' kinds and places
// count, in any one unit, so the rule holds for any dialog; frames, labels
// and buttons take no name from it.
#pragma once

#include <windows.h>

enum ControlKind { CONTROL_OTHER, CONTROL_FIELD, CONTROL_LABEL, CONTROL_FRAME };

typedef struct ControlPlace {
    ControlKind kind;
    RECT rect;  // right and bottom lie just outside
} ControlPlace;

// True when windowClass is name (given in capitals) in any case; a version
// before a '!', as the platform's visual styles give it, is skipped.
BOOL ClassNameIs(LPCWSTR windowClass, const char* name);
// The kind of a control of windowClass with style; a static text without
// text labels nothing.
ControlKind KindOfControl(LPCWSTR windowClass, DWORD style, BOOL hasText);
// The index of the label that names places[index], or -1 when there is
// none or places[index] is no field.
int LabelOfField(const ControlPlace* places, int count, int index);
