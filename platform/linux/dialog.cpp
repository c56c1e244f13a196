// Modal dialogs built from templates, and the window calls on them.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/extensions.h"
#include "platform/linux/dialog_channel.h"
#include "platform/linux/dialog_controls.h"
#include "platform/linux/dialog_labels.h"
#include "platform/linux/edit_field.h"
#include "platform/linux/handles.h"
#include "platform/linux/winbase.h"

namespace {

// How often a dialog without a wake descriptor looks for calls from other threads.
const int CHANNEL_LOOK_MS = 16;

struct Control {
    HWND window;
    QWidget* widget;
    DialogItem item;
};

// A dialog of the platform's kind: every close request, Escape and button
// press goes to the dialog procedure as a command, and only EndDialog ends it.
class TemplateDialog : public QDialog {
public:
    TemplateDialog(DLGPROC procedure, QWidget* owner)
        : QDialog(owner), procedure_(procedure), channel_(std::make_shared<DialogChannel>())
    {
        const int wake = channel_->WakeDescriptor();
        if (wake >= 0) {
            auto* notifier = new QSocketNotifier(wake, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] { channel_->Serve(); });
            return;
        }
        // Without a descriptor to be woken by, calls from other threads are
        // looked for once a display frame: later, but none is lost.
        auto* look = new QTimer(this);
        connect(look, &QTimer::timeout, this, [this] { channel_->RunPending(); });
        look->start(CHANNEL_LOOK_MS);
    }

    HWND window = nullptr;
    std::vector<Control> controls;
    std::map<UINT_PTR, QTimer*> timers;  // children of the dialog

    // Stops and forgets a timer. It goes later, since this may run in its own timeout.
    bool StopTimer(UINT_PTR id)
    {
        auto timer = timers.find(id);
        if (timer == timers.end())
            return false;
        timer->second->stop();
        timer->second->deleteLater();
        timers.erase(timer);
        return true;
    }
    bool ended = false;
    INT_PTR result = 0;

    const std::shared_ptr<DialogChannel>& Channel() const { return channel_; }

    INT_PTR Send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return procedure_(window, message, wParam, lParam);
    }

    void Command(int id, HWND control) { Send(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control); }

    void PressDefaultButton()
    {
        for (const Control& control : controls)
            if (IsDefaultButton(control.item))
                ClickIfEnabled(control);
    }

    void ClickIfEnabled(const Control& control)
    {
        if (control.widget->isEnabled() && control.widget->isVisible())
            Command(control.item.id, control.window);
    }

    // Enter in a field that does not take it presses the focused push
    // button, or else the default one; Ctrl+Enter still breaks the line.
    bool HandleEnter(QObject* target, QKeyEvent* key)
    {
        for (const Control& control : controls) {
            if (control.widget != target)
                continue;
            if (IsPushButton(control.item)) {
                ClickIfEnabled(control);
                return true;
            }
            if (PassesEnterToDialog(control.item) && (key->modifiers() & Qt::ControlModifier)) {
                static_cast<EditField*>(control.widget)->insertPlainText(QStringLiteral("\n"));
                return true;
            }
        }
        PressDefaultButton();
        return true;
    }

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                return HandleEnter(target, key);
        }
        return QDialog::eventFilter(target, event);
    }

    void keyPressEvent(QKeyEvent* key) override
    {
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier)
            Command(IDCANCEL, nullptr);
        else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            HandleEnter(focusWidget(), key);
        else
            QDialog::keyPressEvent(key);
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (ended) {
            event->accept();
            return;
        }
        event->ignore();
        Command(IDCANCEL, nullptr);
    }

    // QDialog's own Escape and close paths end in reject(); it is a command here.
    void reject() override
    {
        if (!ended)
            Command(IDCANCEL, nullptr);
    }

private:
    DLGPROC procedure_;
    std::shared_ptr<DialogChannel> channel_;
};

TemplateDialog* DialogOfWindow(HWND window)
{
    return dynamic_cast<TemplateDialog*>(WidgetOfWindow(window));
}

// Dialog units to pixels from the dialog font's average character width
// and height, so the layout follows the font and the screen's resolution.
// The width stays fractional: rounded to whole pixels it is off by up to
// half a pixel per character, enough that at some font sizes (9 pt, 11 pt)
// labels no longer fit their text.
struct DialogUnits {
    qreal baseX;
    int baseY;
    QRect Map(short x, short y, short cx, short cy) const
    {
        return QRect(qRound(x * baseX / 4), y * baseY / 8, qRound(cx * baseX / 4), cy * baseY / 8);
    }
};

DialogUnits UnitsOf(const QFont& font)
{
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    qreal averageWidth = QFontMetricsF(font).horizontalAdvance(alphabet) / alphabet.size();
    return DialogUnits{averageWidth, QFontMetrics(font).height()};
}

bool IsSystemFont(LPCWSTR face)
{
    return face != nullptr && QString::fromUtf16(face).compare(QLatin1String("System"), Qt::CaseInsensitive) == 0;
}

// "System" stands for the desktop's UI font at the size the user chose, so
// a larger desktop font makes the whole dialog larger; any other face is
// taken at the template's size.
QFont FontOf(const DialogTable& dialogTemplate)
{
    QFont font = QApplication::font();
    bool sized = (dialogTemplate.style & DS_SETFONT) && dialogTemplate.pointSize > 0;
    if (sized && !IsSystemFont(dialogTemplate.fontFace))
        font.setPointSize(dialogTemplate.pointSize);
    return font;
}

void AddControl(TemplateDialog* dialog, const DialogItem& item, const DialogUnits& units)
{
    QWidget* widget = CreateControl(item, units.Map(item.x, item.y, item.cx, item.cy), dialog);
    HWND window = RegisterWindow({widget, dialog->window, item.id, nullptr, dialog->Channel()});
    dialog->controls.push_back({window, widget, item});
    if (IsPushButton(item)) {
        int id = item.id;
        QObject::connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, dialog,
                         [dialog, widget, window, id] {
                             if (widget->isEnabled())
                                 dialog->Command(id, window);
                         });
    }
    // Enter is decided by the dialog for every control that can take the focus.
    if (widget->focusPolicy() != Qt::NoFocus)
        widget->installEventFilter(dialog);
}

// Tab order is template order; the first control is on top, as the
// platform stacks them, so a group box never covers the controls it frames.
void ArrangeControls(TemplateDialog* dialog)
{
    QWidget* previous = nullptr;
    for (const Control& control : dialog->controls) {
        control.widget->lower();
        if (!(control.item.style & WS_TABSTOP))
            continue;
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control.widget);
        previous = control.widget;
    }
}

std::unique_ptr<TemplateDialog> BuildDialog(const DialogTable& dialogTemplate, HWND owner,
                                            DLGPROC procedure)
{
    auto dialog = std::make_unique<TemplateDialog>(procedure, WidgetOfWindow(owner));
    dialog->setWindowTitle(QString::fromUtf16(dialogTemplate.caption ? dialogTemplate.caption : u""));
    dialog->setFont(FontOf(dialogTemplate));
    dialog->window = RegisterWindow({dialog.get(), owner, 0, nullptr, dialog->Channel()});
    DialogUnits units = UnitsOf(dialog->font());
    QRect client = units.Map(dialogTemplate.x, dialogTemplate.y, dialogTemplate.cx, dialogTemplate.cy);
    dialog->setFixedSize(client.size());
    dialog->move(client.topLeft());
    std::vector<QWidget*> widgets;
    for (WORD i = 0; i < dialogTemplate.count; ++i) {
        AddControl(dialog.get(), dialogTemplate.items[i], units);
        widgets.push_back(dialog->controls.back().widget);
    }
    ArrangeControls(dialog.get());
    NameControlsAfterLabels(dialogTemplate.items, widgets.data(), dialogTemplate.count);
    return dialog;
}

HWND FirstTabStop(const TemplateDialog* dialog)
{
    for (const Control& control : dialog->controls)
        if ((control.item.style & WS_TABSTOP) && control.widget->isEnabled())
            return control.window;
    return nullptr;
}

// Tells the procedure that the dialog goes, refuses further calls from
// other threads, stops its timers, then forgets every handle, so nothing
// can reach the widgets that are about to be destroyed.
void RetireDialog(TemplateDialog* dialog)
{
    dialog->Send(WM_DESTROY, 0, 0);
    dialog->Channel()->Close();
    while (!dialog->timers.empty())
        dialog->StopTimer(dialog->timers.begin()->first);
    for (const Control& control : dialog->controls)
        UnregisterWindow(control.window);
    UnregisterWindow(dialog->window);
}

// A message for window, on its own thread: a dialog's goes to its
// procedure, a control's to the control.
void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (TemplateDialog* dialog = DialogOfWindow(window))
        dialog->Send(message, wParam, lParam);
    else
        ControlMessage(WidgetOfWindow(window), message, wParam, lParam);
}

}  // namespace

INT_PTR DialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                DLGPROC procedure, LPARAM initParam)
{
    if (dialogTemplate == nullptr || procedure == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_ptr<TemplateDialog> dialog = BuildDialog(*dialogTemplate, owner, procedure);
    HWND focus = FirstTabStop(dialog.get());
    if (dialog->Send(WM_INITDIALOG, (WPARAM)focus, initParam) && !dialog->ended)
        SetFocus(focus);
    if (!dialog->ended)
        dialog->exec();
    RetireDialog(dialog.get());
    return dialog->result;
}

BOOL EndDialog(HWND window, INT_PTR result)
{
    TemplateDialog* dialog = DialogOfWindow(window);
    if (dialog == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dialog->result = result;
    dialog->ended = true;
    dialog->Channel()->Close();
    dialog->done(QDialog::Accepted);
    return TRUE;
}

// Callable from any thread: it reads only the handle table.
HWND GetDlgItem(HWND window, int id)
{
    return window != nullptr ? FindChildWindow(window, id) : nullptr;
}

int GetDlgCtrlID(HWND control)
{
    WindowRecord record;
    return LookupWindow(control, &record) ? record.id : 0;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord record;
    if (!LookupWindow(window, &record))
        return 0;
    if (record.channel == nullptr || record.channel->OnOwnerThread()) {
        // Calls other threads made earlier go first, so the order holds.
        if (record.channel != nullptr)
            record.channel->RunPending();
        return ControlMessage(record.widget, message, wParam, lParam);
    }
    LRESULT result = 0;
    record.channel->Call([&] { result = ControlMessage(WidgetOfWindow(window), message, wParam, lParam); });
    return result;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord record;
    if (!LookupWindow(window, &record) || record.channel == nullptr)
        return FALSE;
    return record.channel->Post([=] { Deliver(window, message, wParam, lParam); });
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure)
{
    TemplateDialog* dialog = DialogOfWindow(window);
    if (dialog == nullptr || dialog->ended) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    dialog->StopTimer(id);
    auto* timer = new QTimer(dialog);
    dialog->timers[id] = timer;
    QObject::connect(timer, &QTimer::timeout, dialog, [=] {
        if (procedure != nullptr)
            procedure(window, WM_TIMER, id, static_cast<DWORD>(GetTickCount64()));
        else
            dialog->Send(WM_TIMER, id, 0);
    });
    timer->start(static_cast<int>(milliseconds));
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    TemplateDialog* dialog = DialogOfWindow(window);
    if (dialog == nullptr || !dialog->StopTimer(id)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(GetDlgItem(dialog, id), message, wParam, lParam);
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int count)
{
    if (buffer == nullptr || count <= 0)
        return 0;
    buffer[0] = 0;
    return static_cast<UINT>(SendDlgItemMessageW(dialog, id, WM_GETTEXT, count, (LPARAM)buffer));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text)
{
    return static_cast<BOOL>(SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, (LPARAM)text));
}

BOOL EnableWindow(HWND window, BOOL enable)
{
    QWidget* widget = WidgetOfWindow(window);
    if (widget == nullptr)
        return FALSE;
    BOOL wasDisabled = !widget->isEnabled();
    widget->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window)
{
    QWidget* widget = WidgetOfWindow(window);
    return widget != nullptr && widget->isEnabled();
}

HWND SetFocus(HWND window)
{
    HWND previous = GetFocus();
    if (QWidget* widget = WidgetOfWindow(window))
        widget->setFocus(Qt::OtherFocusReason);
    return previous;
}

HWND GetFocus(void)
{
    return WindowOfWidget(QApplication::focusWidget());
}

HWND GetParent(HWND window)
{
    WindowRecord record;
    return LookupWindow(window, &record) ? record.parent : nullptr;
}

BOOL GetWindowRect(HWND window, LPRECT rect)
{
    QWidget* widget = WidgetOfWindow(window);
    if (widget == nullptr || rect == nullptr)
        return FALSE;
    QRect frame = widget->isWindow() ? widget->frameGeometry()
                                     : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    *rect = {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
    return TRUE;
}

// A window without a widget of its own stands for the screen, so its client
// area is the screen's available area.
BOOL GetClientRect(HWND window, LPRECT rect)
{
    WindowRecord record;
    if (!LookupWindow(window, &record) || rect == nullptr)
        return FALSE;
    QSize size = record.widget != nullptr ? record.widget->size()
                                          : QApplication::primaryScreen()->availableGeometry().size();
    *rect = {0, 0, size.width(), size.height()};
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags)
{
    QWidget* widget = WidgetOfWindow(window);
    if (widget == nullptr)
        return FALSE;
    if (!(flags & SWP_NOMOVE))
        widget->move(x, y);
    if (!(flags & SWP_NOSIZE))
        widget->resize(cx, cy);
    return TRUE;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    QMessageBox box((type & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromUtf16(caption ? caption : u"Error"), QString::fromUtf16(text ? text : u""),
                    QMessageBox::Ok, WidgetOfWindow(owner));
    box.exec();
    return IDOK;
}
