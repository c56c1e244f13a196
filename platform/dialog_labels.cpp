#include "platform/dialog_labels.h"

namespace {

WCHAR Folded(WCHAR c)
{
    return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
}

bool Holds(const RECT& outer, LONG x, LONG y)
{
    return outer.left <= x && x < outer.right && outer.top <= y && y < outer.bottom;
}

LONG Area(const RECT& rect)
{
    return (rect.right - rect.left) * (rect.bottom - rect.top);
}

// The innermost frame holding the control's top-left corner (a combo box
// may count its dropped list in its height), or -1 for none.
int FrameOf(const ControlPlace* places, int count, int index)
{
    const RECT& control = places[index].rect;
    int frame = -1;
    for (int i = 0; i < count; ++i) {
        if (i == index || places[i].kind != CONTROL_FRAME || !Holds(places[i].rect, control.left, control.top))
            continue;
        if (frame < 0 || Area(places[i].rect) < Area(places[frame].rect))
            frame = i;
    }
    return frame;
}

// A label starts above the control and overlaps it sideways.
bool StandsAbove(const RECT& label, const RECT& control)
{
    return label.top < control.top && label.left < control.right && control.left < label.right;
}

}  // namespace

BOOL ClassNameIs(LPCWSTR windowClass, const char* name)
{
    LPCWSTR kind = windowClass;
    for (LPCWSTR c = windowClass; *c != 0; ++c)
        if (*c == '!')
            kind = c + 1;
    for (; *kind != 0 && *name != 0; ++kind, ++name)
        if (Folded(*kind) != static_cast<WCHAR>(*name))
            return false;
    return *kind == 0 && *name == 0;
}

ControlKind KindOfControl(LPCWSTR windowClass, DWORD style, BOOL hasText)
{
    if (windowClass == nullptr)
        return CONTROL_OTHER;
    if (ClassNameIs(windowClass, "EDIT") || ClassNameIs(windowClass, "COMBOBOX"))
        return CONTROL_FIELD;
    if (ClassNameIs(windowClass, "STATIC") && hasText)
        return CONTROL_LABEL;
    if (ClassNameIs(windowClass, "BUTTON") && (style & BS_TYPEMASK) == BS_GROUPBOX)
        return CONTROL_FRAME;
    return CONTROL_OTHER;
}

int LabelOfField(const ControlPlace* places, int count, int index)
{
    if (places[index].kind != CONTROL_FIELD)
        return -1;
    const int frame = FrameOf(places, count, index);
    int label = -1;
    for (int i = 0; i < count; ++i) {
        if (places[i].kind != CONTROL_LABEL || !StandsAbove(places[i].rect, places[index].rect) ||
            FrameOf(places, count, i) != frame)
            continue;
        if (label < 0 || places[i].rect.top > places[label].rect.top)
            label = i;
    }
    return label;
}
