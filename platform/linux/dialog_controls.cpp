// Builds controls from template items and answers the control messages.
// Multi-line edit fields speak "\r\n" line ends to the program, as the
// platform's do, and keep "\n" inside the widget.
#include "platform/linux/dialog_controls.h"

#include "platform/extensions.h"
#include "platform/linux/edit_field.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

bool IsClass(const DialogItem& item, std::u16string_view name)
{
    return item.windowClass != nullptr && name == item.windowClass;
}

QString FromWide(LPCWSTR text)
{
    return text == nullptr ? QString() : QString::fromUtf16(text);
}

QString ToProgramText(QString text)
{
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QWidget* CreateButton(const DialogItem& item, QWidget* parent)
{
    if ((item.style & BS_TYPEMASK) == BS_GROUPBOX) {
        auto* group = new QGroupBox(FromWide(item.title), parent);
        // A frame drawn around other controls must not catch their clicks.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        return group;
    }
    auto* button = new QPushButton(FromWide(item.title), parent);
    // Enter is handled by the dialog, which presses the default button.
    button->setAutoDefault(false);
    button->setDefault(IsDefaultButton(item));
    return button;
}

QWidget* CreateMultiLineEdit(const DialogItem& item, QWidget* parent)
{
    auto* edit = new EditField(parent);
    edit->setTabChangesFocus(true);
    edit->setReadOnly((item.style & ES_READONLY) != 0);
    edit->setLineWrapMode((item.style & ES_AUTOHSCROLL) ? QPlainTextEdit::NoWrap
                                                         : QPlainTextEdit::WidgetWidth);
    edit->setVerticalScrollBarPolicy((item.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy((item.style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAlwaysOff);
    if (!(item.style & WS_BORDER))
        edit->setFrameShape(QFrame::NoFrame);
    edit->setPlainText(ToWidgetText(item.title));
    return edit;
}

QWidget* CreateEdit(const DialogItem& item, QWidget* parent)
{
    if (item.style & ES_MULTILINE)
        return CreateMultiLineEdit(item, parent);
    auto* edit = new QLineEdit(FromWide(item.title), parent);
    edit->setReadOnly((item.style & ES_READONLY) != 0);
    edit->setFrame((item.style & WS_BORDER) != 0);
    return edit;
}

QWidget* CreateStatic(const DialogItem& item, QWidget* parent)
{
    auto* label = new QLabel(FromWide(item.title), parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* CreateComboBox(const DialogItem&, QWidget* parent)
{
    return new QComboBox(parent);
}

Qt::FocusPolicy FocusPolicyOf(const DialogItem& item)
{
    if (IsClass(item, WC_STATIC) || (IsClass(item, WC_BUTTON) && !IsPushButton(item)))
        return Qt::NoFocus;
    return (item.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
}

// Copies at most size - 1 characters and a terminator, never half a
// surrogate pair; returns the characters copied.
LRESULT CopyText(const QString& text, WPARAM size, LPARAM buffer)
{
    auto* out = reinterpret_cast<WCHAR*>(buffer);
    if (out == nullptr || size == 0)
        return 0;
    qsizetype count = std::min<qsizetype>(text.size(), static_cast<qsizetype>(size) - 1);
    if (count > 0 && count < text.size() && text.at(count - 1).isHighSurrogate())
        --count;
    std::memcpy(out, text.utf16(), static_cast<size_t>(count) * sizeof(WCHAR));
    out[count] = 0;
    return count;
}

QString TextOf(QWidget* widget)
{
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        return ToProgramText(edit->toPlainText());
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    return widget->windowTitle();
}

void SetTextOf(QWidget* widget, LPCWSTR text)
{
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        edit->setPlainText(ToWidgetText(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(FromWide(text));
    else if (auto* button = qobject_cast<QPushButton*>(widget))
        button->setText(FromWide(text));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(FromWide(text));
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(FromWide(text));
    else
        widget->setWindowTitle(FromWide(text));
}

void ReplaceSelection(QWidget* widget, LPCWSTR text)
{
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->insert(FromWide(text));
    else if (auto* edit = dynamic_cast<EditField*>(widget))
        edit->ReplaceSelection(ToWidgetText(text));
}

// The messages only a multi-line edit field answers; false for the others.
bool EditMessage(EditField* edit, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    const int number = static_cast<int>(static_cast<INT_PTR>(wParam));
    switch (message) {
    case WM_GETTEXTLENGTH:
        *result = edit->Length();
        return true;
    case EM_APPENDTEXT:
        edit->AppendText(ToWidgetText(reinterpret_cast<LPCWSTR>(lParam)));
        *result = 0;
        return true;
    case EM_DROPTEXT:
        edit->DropText(number);
        *result = 0;
        return true;
    case EM_GETLINECOUNT:
        *result = edit->LineCount();
        return true;
    case EM_LINEINDEX:
        *result = edit->LineIndex(number);
        return true;
    case EM_LINEFROMCHAR:
        *result = edit->LineFromChar(number);
        return true;
    default:
        return false;
    }
}

LRESULT ComboMessage(QComboBox* combo, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case CB_INSERTSTRING: {
        int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (index < 0 || index > combo->count())
            index = combo->count();
        combo->insertItem(index, FromWide(reinterpret_cast<LPCWSTR>(lParam)));
        return index;
    }
    case CB_SETCURSEL: {
        int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        bool valid = index >= 0 && index < combo->count();
        combo->setCurrentIndex(valid ? index : -1);
        return valid ? index : CB_ERR;
    }
    case CB_GETCURSEL:
        return combo->currentIndex();
    case CB_GETCOUNT:
        return combo->count();
    default:
        return 0;
    }
}

}  // namespace

QString ToWidgetText(LPCWSTR text)
{
    QString converted = FromWide(text);
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    converted.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return converted;
}

bool IsPushButton(const DialogItem& item)
{
    DWORD type = item.style & BS_TYPEMASK;
    return IsClass(item, WC_BUTTON) && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool IsDefaultButton(const DialogItem& item)
{
    return IsClass(item, WC_BUTTON) && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

bool PassesEnterToDialog(const DialogItem& item)
{
    return IsClass(item, WC_EDIT) && (item.style & ES_MULTILINE) && !(item.style & ES_WANTRETURN);
}

QWidget* CreateControl(const DialogItem& item, const QRect& rect, QWidget* parent)
{
    QWidget* widget = nullptr;
    if (IsClass(item, WC_BUTTON))
        widget = CreateButton(item, parent);
    else if (IsClass(item, WC_EDIT))
        widget = CreateEdit(item, parent);
    else if (IsClass(item, WC_COMBOBOX))
        widget = CreateComboBox(item, parent);
    else
        widget = CreateStatic(item, parent);
    widget->setGeometry(rect);
    // A combo box's template height includes its dropped list.
    if (IsClass(item, WC_COMBOBOX))
        widget->resize(rect.width(), widget->sizeHint().height());
    widget->setFocusPolicy(FocusPolicyOf(item));
    widget->setEnabled(!(item.style & WS_DISABLED));
    widget->setVisible((item.style & WS_VISIBLE) != 0);
    return widget;
}

LRESULT ControlMessage(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (widget == nullptr)
        return 0;
    LRESULT result = 0;
    if (auto* edit = dynamic_cast<EditField*>(widget); edit && EditMessage(edit, message, wParam, lParam, &result))
        return result;
    switch (message) {
    case WM_SETTEXT:
        SetTextOf(widget, reinterpret_cast<LPCWSTR>(lParam));
        return TRUE;
    case WM_GETTEXT:
        return CopyText(TextOf(widget), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return TextOf(widget).size();
    case EM_REPLACESEL:
        ReplaceSelection(widget, reinterpret_cast<LPCWSTR>(lParam));
        return 0;
    default:
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            return ComboMessage(combo, message, wParam, lParam);
        return 0;
    }
}
