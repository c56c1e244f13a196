#include "tests/support/dialog_run_linux.h"

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

#include "core/event_log.h"
#include "frontend/resource.h"
#include "frontend/resource_tables.h"
#include "platform/linux/handles.h"

namespace {

using Clock = std::chrono::steady_clock;

DialogRun* currentRun = nullptr;
const std::function<void(HWND)>* currentScript = nullptr;

const int SCRIPT_TIME_LIMIT_MS = 20000;

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The log box is the program's log, as in the program's own dialog.
    if (LogDialogMessage(dialog, message, wParam))
        return TRUE;
    if (message == WM_INITDIALOG) {
        currentRun->dialog = dialog;
        QTimer::singleShot(0, [dialog] {
            // Keys go where a user's would only once the window is active.
            if (!QTest::qWaitForWindowActive(WidgetOfWindow(dialog)))
                ADD_FAILURE() << "the dialog never became active";
            (*currentScript)(dialog);
            if (QWidget* window = WidgetOfWindow(dialog); window && window->isVisible())
                EndDialog(dialog, -2);
        });
        QTimer::singleShot(SCRIPT_TIME_LIMIT_MS, [dialog] { EndDialog(dialog, -3); });
        return TRUE;
    }
    if (message == WM_COMMAND) {
        currentRun->commands.push_back({LOWORD(wParam), reinterpret_cast<HWND>(lParam)});
        return TRUE;
    }
    return FALSE;
}

}  // namespace

DialogRun RunDialog(const DialogTable& dialogTemplate, const std::function<void(HWND)>& script)
{
    DialogRun run;
    currentRun = &run;
    currentScript = &script;
    run.result = DialogBoxIndirectParamW(nullptr, &dialogTemplate, nullptr, RecordingProc, 0);
    currentRun = nullptr;
    currentScript = nullptr;
    return run;
}

DialogRun RunMainDialog(const std::function<void(HWND)>& script)
{
    return RunDialog(MAIN_DIALOG_TEMPLATE, script);
}

bool PumpUntil(const std::function<bool()>& done, int limitMs)
{
    if (done())
        return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    // A nested loop that sleeps until the next event, with a fine tick to
    // look at the condition: calls from other threads are served at once.
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    bool finished = false;
    tick.callOnTimeout([&] {
        if (done()) {
            finished = true;
            loop.quit();
        } else if (Clock::now() >= deadline) {
            loop.quit();
        }
    });
    tick.start(1);
    loop.exec();
    return finished || done();
}

int MostLogLinesDuring(HWND dialog, const std::function<void()>& work)
{
    auto* box = qobject_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG));
    int most = box->blockCount();
    const QMetaObject::Connection watch =
        QObject::connect(box, &QPlainTextEdit::blockCountChanged, [&](int count) { most = std::max(most, count); });
    work();
    QObject::disconnect(watch);
    return most;
}

namespace {

// Notes the box's text each time its view is painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QPlainTextEdit* box) : box_(box) { box_->viewport()->installEventFilter(this); }
    ~PaintRecorder() override { box_->viewport()->removeEventFilter(this); }

    std::vector<LogPaint> paints;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            QString text = box_->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
            paints.push_back({std::chrono::steady_clock::now(), text.toStdU16String()});
        }
        return false;
    }

private:
    QPlainTextEdit* box_;
};

}  // namespace

std::vector<LogPaint> LogPaintsDuring(HWND dialog, const std::function<void()>& work)
{
    PaintRecorder recorder(qobject_cast<QPlainTextEdit*>(Widget(dialog, IDC_LOG)));
    work();
    return recorder.paints;
}

QWidget* Widget(HWND dialog, int id)
{
    return WidgetOfWindow(GetDlgItem(dialog, id));
}

void Press(Qt::Key key, Qt::KeyboardModifiers modifiers, QWidget* target)
{
    if (target == nullptr)
        target = QApplication::focusWidget();
    if (target != nullptr)
        QTest::keyClick(target, key, modifiers);
}

QList<QWidget*> ControlsInTemplateOrder(HWND dialog)
{
    // The first control is on top, and Qt lists children bottom to top.
    QList<QWidget*> controls;
    for (QObject* child : WidgetOfWindow(dialog)->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && WindowOfWidget(widget))
            controls.prepend(widget);
    return controls;
}

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
