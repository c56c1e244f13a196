#include "platform/linux/dialog_labels.h"

#include <QComboBox>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <vector>

#include "platform/dialog_labels.h"

namespace {

// Where the item stands in the template, in dialog units.
ControlPlace PlaceOf(const DialogItem& item)
{
    const BOOL hasText = item.title != nullptr && item.title[0] != 0;
    return {KindOfControl(item.windowClass, item.style, hasText),
            {item.x, item.y, item.x + item.cx, item.y + item.cy}};
}

}  // namespace

void NameControlsAfterLabels(const DialogItem* items, QWidget* const* widgets, int count)
{
    std::vector<ControlPlace> places;
    for (int i = 0; i < count; ++i)
        places.push_back(PlaceOf(items[i]));
    for (int i = 0; i < count; ++i) {
        const int label = LabelOfField(places.data(), count, i);
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
