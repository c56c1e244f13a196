// Builds controls from template items and answers the control messages.
// Multi-line edit fields speak "\r\n" line ends to the program, as the
// platform's do, and keep "\n" inside the widget.
#include "platform/dialog_controls.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

bool IsClass(const DLGITEMTEMPLATE& item, std::u16string_view name)
{
    return item.windowClass != nullptr && name == item.windowClass;
}

QString FromWide(LPCWSTR text)
{
    return text == nullptr ? QString() : QString::fromUtf16(text);
}

QString ToWidgetText(LPCWSTR text)
{
    QString converted = FromWide(text);
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    converted.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return converted;
}

QString ToProgramText(QString text)
{
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QWidget* CreateButton(const DLGITEMTEMPLATE& item, QWidget* parent)
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

QWidget* CreateMultiLineEdit(const DLGITEMTEMPLATE& item, QWidget* parent)
{
    auto* edit = new QPlainTextEdit(parent);
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

QWidget* CreateEdit(const DLGITEMTEMPLATE& item, QWidget* parent)
{
    if (item.style & ES_MULTILINE)
        return CreateMultiLineEdit(item, parent);
    auto* edit = new QLineEdit(FromWide(item.title), parent);
    edit->setReadOnly((item.style & ES_READONLY) != 0);
    edit->setFrame((item.style & WS_BORDER) != 0);
    return edit;
}

QWidget* CreateStatic(const DLGITEMTEMPLATE& item, QWidget* parent)
{
    auto* label = new QLabel(FromWide(item.title), parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* CreateComboBox(const DLGITEMTEMPLATE&, QWidget* parent)
{
    return new QComboBox(parent);
}

Qt::FocusPolicy FocusPolicyOf(const DLGITEMTEMPLATE& item)
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

// A display frame: a field that takes text many times a frame is painted once.
const int PAINT_INTERVAL_MS = 16;

// Holds painting back until the next frame. A server logging thousands of
// lines a second would otherwise spend most of its time repainting.
void DeferPainting(QWidget* widget)
{
    if (!widget->updatesEnabled())
        return;
    widget->setUpdatesEnabled(false);
    QTimer::singleShot(PAINT_INTERVAL_MS, widget, [widget] { widget->setUpdatesEnabled(true); });
}

// The line limit of a multi-line field, kept on the widget.
const char* const LINE_LIMIT = "quillomardeLineLimit";

// Once the field passes its line limit, drops the oldest whole lines down to
// nine tenths of it in one go: dropping them one insertion at a time would
// make every insertion past the limit cost half as much again. Lines from
// keep on stay, so text just inserted is never dropped.
void DropOldestLines(QPlainTextEdit* edit, int keep)
{
    int limit = edit->property(LINE_LIMIT).toInt();
    QTextDocument* document = edit->document();
    if (limit <= 0 || document->blockCount() <= limit)
        return;
    int end = document->findBlockByNumber(document->blockCount() - limit * 9 / 10).position();
    QTextCursor oldest(document);
    oldest.setPosition(std::min(end, document->findBlock(keep).position()), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
}

// Inserts into a multi-line field. A reader who has scrolled away from the
// end keeps the same lines in view, even when lines above them are dropped;
// otherwise the view follows the end.
void InsertKeepingView(QPlainTextEdit* edit, QTextCursor& cursor, const QString& text)
{
    QScrollBar* bar = edit->verticalScrollBar();
    bool following = bar->value() == bar->maximum();
    QTextCursor firstShown;
    if (!following)
        firstShown = QTextCursor(edit->document()->findBlockByNumber(bar->value()));
    int start = cursor.selectionStart();
    cursor.insertText(text);
    DropOldestLines(edit, start);
    edit->setTextCursor(cursor);
    bar->setValue(following ? bar->maximum() : firstShown.blockNumber());
}

// Replaces the selection, or inserts at the caret, and leaves the caret
// after the new text. Text inserted this way cannot be undone, which also
// keeps a long-running log from growing an undo history.
void ReplaceSelection(QWidget* widget, LPCWSTR text)
{
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->insert(FromWide(text));
        return;
    }
    auto* edit = qobject_cast<QPlainTextEdit*>(widget);
    if (edit == nullptr)
        return;
    DeferPainting(edit);
    QTextDocument* document = edit->document();
    bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor = edit->textCursor();
    InsertKeepingView(edit, cursor, ToWidgetText(text));
    document->setUndoRedoEnabled(undo);
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

bool IsPushButton(const DLGITEMTEMPLATE& item)
{
    DWORD type = item.style & BS_TYPEMASK;
    return IsClass(item, WC_BUTTON) && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool IsDefaultButton(const DLGITEMTEMPLATE& item)
{
    return IsClass(item, WC_BUTTON) && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

bool PassesEnterToDialog(const DLGITEMTEMPLATE& item)
{
    return IsClass(item, WC_EDIT) && (item.style & ES_MULTILINE) && !(item.style & ES_WANTRETURN);
}

QWidget* CreateControl(const DLGITEMTEMPLATE& item, const QRect& rect, QWidget* parent)
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
    case EM_SETLINELIMIT:
        widget->setProperty(LINE_LIMIT, static_cast<int>(wParam));
        return 0;
    default:
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            return ComboMessage(combo, message, wParam, lParam);
        return 0;
    }
}
