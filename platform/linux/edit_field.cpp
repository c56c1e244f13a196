#include "platform/linux/edit_field.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <utility>

namespace {

// A display frame.
const int FLUSH_INTERVAL_MS = 16;

// Events after which the user may see or change the text or the caret: the
// waiting text goes in first.
bool IsUserAction(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Runs change on text so that the user's undo history never holds it.
template <typename Change>
void WithoutUndo(QTextDocument* text, Change change)
{
    const bool undo = text->isUndoRedoEnabled();
    text->setUndoRedoEnabled(false);
    change();
    text->setUndoRedoEnabled(undo);
}

}  // namespace

EditField::EditField(QWidget* parent) : QPlainTextEdit(parent)
{
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(FLUSH_INTERVAL_MS);
    connect(&flushTimer_, &QTimer::timeout, this, &EditField::Flush);
}

void EditField::ReplaceSelection(const QString& text)
{
    Flush();
    QTextCursor at = textCursor();
    WithoutUndo(document(), [&] { at.insertText(text); });
    setTextCursor(at);
}

bool PendingText::Add(const QString& text)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    const bool first = text_.isEmpty();
    text_ += text;
    return first;
}

QString PendingText::Take()
{
    std::lock_guard lock(mutex_);
    return std::exchange(text_, QString());
}

void PendingText::Close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void EditField::AppendText(const QString& text)
{
    if (pending_->Add(text))
        ScheduleFlush();
}

void EditField::ScheduleFlush()
{
    if (!flushTimer_.isActive())
        flushTimer_.start();
}

void EditField::SetLineLimit(int limit)
{
    Flush();
    lineLimit_ = std::max(0, limit);
}

void EditField::Flush()
{
    const QString text = pending_->Take();
    if (text.isEmpty())
        return;
    flushTimer_.stop();
    AppendKeepingView(text);
}

// A reader who has scrolled away from the end keeps the same lines in view,
// even when lines above them are dropped; otherwise the view follows the end.
// The caret and the selection keep their place in the text.
void EditField::AppendKeepingView(const QString& text)
{
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor firstShown;
    if (!following)
        firstShown = QTextCursor(document()->findBlockByNumber(bar->value()));
    QTextCursor user = textCursor();
    const int anchor = user.anchor();
    const int position = user.position();
    int dropped = 0;
    WithoutUndo(document(), [&] {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(text);
        dropped = DropOldestLines();
    });
    // A caret at the old end stays there; one in dropped lines goes to the start.
    user.setPosition(std::max(0, anchor - dropped));
    user.setPosition(std::max(0, position - dropped), QTextCursor::KeepAnchor);
    const QTextCursor now = textCursor();
    if (now.anchor() != user.anchor() || now.position() != user.position())
        setTextCursor(user);
    bar->setValue(following ? bar->maximum() : firstShown.blockNumber());
}

// Returns how many characters went.
int EditField::DropOldestLines()
{
    QTextDocument* text = document();
    const int count = text->blockCount();
    if (lineLimit_ <= 0 || count <= lineLimit_)
        return 0;
    const int first = count - 1 - lineLimit_ * 9 / 10;
    const int dropped = text->findBlockByNumber(first).position();
    QTextCursor oldest(text);
    oldest.setPosition(dropped, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    return dropped;
}

bool EditField::event(QEvent* event)
{
    if (IsUserAction(event->type()))
        Flush();
    return QPlainTextEdit::event(event);
}

bool EditField::viewportEvent(QEvent* event)
{
    if (IsUserAction(event->type()))
        Flush();
    return QPlainTextEdit::viewportEvent(event);
}
