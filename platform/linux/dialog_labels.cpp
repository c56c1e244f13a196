// Screen readers announce an input field by its name, and a dialog template
// names none: a field's name is the static text above it in the same frame
// (group box), and a frame's is the first static text inside it. All of it
// is found from the template's geometry, in dialog units, so it holds for
// any template.
#include "platform/linux/dialog_labels.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QRect>
#include <QString>
#include <QWidget>
#include <string_view>

namespace {

// A combo box as Qt presents it, except for its name: Qt's own interface
// names a combo box by its current text on this system, so that a list
// labelled "Role" would be read out as "Server".
class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? Combo()->currentText() : QAccessibleWidget::text(kind);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(Combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child != nullptr && child->object() == Combo()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << showMenuAction(); }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction())
            Combo()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

// Takes the place of whatever interface the combo box may have been given
// already, before its name is set.
void UseNamedInterface(QComboBox* combo)
{
    if (QAccessibleInterface* current = QAccessible::queryAccessibleInterface(combo))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(current));
    QAccessible::registerAccessibleInterface(new NamedComboBox(combo));
}

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
        if (auto* combo = qobject_cast<QComboBox*>(widgets[i]))
            UseNamedInterface(combo);
        widgets[i]->setAccessibleName(QString::fromUtf16(items[label].title));
    }
}
