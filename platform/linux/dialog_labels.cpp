// Screen readers announce an input field by its name, and a dialog template
// names none: a field's name is the static text above it in the same frame
// (group box), a combo box is labelled by that text, and a frame's name is
// the first static text inside it. All of it is found from the template's
// geometry, in dialog units, so it holds for any template.
#include "platform/linux/dialog_labels.h"

#include <QComboBox>
#include <QLabel>
#include <QRect>
#include <QString>
#include <QWidget>
#include <string_view>

namespace {

bool ClassIs(const DialogItem& item, std::u16string_view name)
{
    return item.windowClass != nullptr && name == item.windowClass;
}

bool IsFrame(const DialogItem& item)
{
    return ClassIs(item, WC_BUTTON) && (item.style & BS_TYPEMASK) == BS_GROUPBOX;
}

bool IsLabel(const DialogItem& item)
{
    return ClassIs(item, WC_STATIC) && item.title != nullptr && item.title[0] != 0;
}

QRect RectOf(const DialogItem& item)
{
    return QRect(item.x, item.y, item.cx, item.cy);
}

// The innermost frame holding the item's top-left corner (a combo box's
// template height includes its dropped list), or -1 for none.
int FrameOf(const DialogItem* items, int count, int index)
{
    const QPoint corner(items[index].x, items[index].y);
    int frame = -1;
    for (int i = 0; i < count; ++i) {
        if (i == index || !IsFrame(items[i]) || !RectOf(items[i]).contains(corner))
            continue;
        if (frame < 0 || items[i].cx * items[i].cy < items[frame].cx * items[frame].cy)
            frame = i;
    }
    return frame;
}

// The label in the same frame that starts above the control and overlaps
// it sideways, the nearest one if several do; -1 for none.
int LabelAbove(const DialogItem* items, int count, int index)
{
    const DialogItem& control = items[index];
    const int frame = FrameOf(items, count, index);
    int label = -1;
    for (int i = 0; i < count; ++i) {
        const DialogItem& item = items[i];
        bool above = item.y < control.y && item.x < control.x + control.cx && control.x < item.x + item.cx;
        if (IsLabel(item) && above && FrameOf(items, count, i) == frame && (label < 0 || item.y > items[label].y))
            label = i;
    }
    return label;
}

// The topmost label directly inside the frame; -1 for none.
int FirstLabelIn(const DialogItem* items, int count, int frame)
{
    int label = -1;
    for (int i = 0; i < count; ++i)
        if (IsLabel(items[i]) && FrameOf(items, count, i) == frame && (label < 0 || items[i].y < items[label].y))
            label = i;
    return label;
}

int LabelFor(const DialogItem* items, int count, int index)
{
    const DialogItem& item = items[index];
    if (ClassIs(item, WC_EDIT) || ClassIs(item, WC_COMBOBOX))
        return LabelAbove(items, count, index);
    if (IsFrame(item) && (item.title == nullptr || item.title[0] == 0))
        return FirstLabelIn(items, count, index);
    return -1;
}

}  // namespace

void NameControlsAfterLabels(const DialogItem* items, QWidget* const* widgets, int count)
{
    for (int i = 0; i < count; ++i) {
        int label = LabelFor(items, count, i);
        if (label < 0)
            continue;
        // A combo box's name on this system is its chosen item, which a
        // screen reader announces as it changes; its label comes with it
        // through the label's labelled-by relation, as in other toolkits'
        // dialogs.
        auto* labelWidget = qobject_cast<QLabel*>(widgets[label]);
        if (qobject_cast<QComboBox*>(widgets[i]) != nullptr && labelWidget != nullptr)
            labelWidget->setBuddy(widgets[i]);
        else
            widgets[i]->setAccessibleName(QString::fromUtf16(items[label].title));
    }
}
