#include "platform/edit_field.h"

#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

namespace {

// A display frame.
const int FLUSH_INTERVAL_MS = 16;

// Events after which the user may see or change the text or the caret: the
// waiting text goes in first, where the caret was when it came.
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

}  // namespace

EditField::EditField(QWidget* parent) : QPlainTextEdit(parent)
{
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(FLUSH_INTERVAL_MS);
    connect(&flushTimer_, &QTimer::timeout, this, &EditField::Flush);
}

void EditField::ReplaceSelection(const QString& text)
{
    if (pending_.isEmpty()) {
        pendingAt_ = textCursor();
        flushTimer_.start();
    }
    pending_ += text;
}

void EditField::SetLineLimit(int limit)
{
    Flush();
    lineLimit_ = std::max(0, limit);
}

void EditField::Flush()
{
    if (pending_.isEmpty())
        return;
    flushTimer_.stop();
    QTextDocument* text = document();
    bool undo = text->isUndoRedoEnabled();
    text->setUndoRedoEnabled(false);
    InsertKeepingView(pending_);
    text->setUndoRedoEnabled(undo);
    pending_.clear();
}

// A reader who has scrolled away from the end keeps the same lines in view,
// even when lines above them are dropped; otherwise the view follows the end.
void EditField::InsertKeepingView(const QString& text)
{
    QScrollBar* bar = verticalScrollBar();
    bool following = bar->value() == bar->maximum();
    QTextCursor firstShown;
    if (!following)
        firstShown = QTextCursor(document()->findBlockByNumber(bar->value()));
    int start = pendingAt_.selectionStart();
    pendingAt_.insertText(text);
    DropOldestLines(start);
    setTextCursor(pendingAt_);
    bar->setValue(following ? bar->maximum() : firstShown.blockNumber());
}

// Lines from the one holding position keep on stay, so text just inserted
// is never dropped, unless it alone passes the limit.
void EditField::DropOldestLines(int keep)
{
    QTextDocument* text = document();
    int count = text->blockCount();
    if (lineLimit_ <= 0 || count <= lineLimit_)
        return;
    int first = count - lineLimit_ * 9 / 10;
    int inserted = text->findBlock(keep).blockNumber();
    if (inserted < first)
        first = count - inserted <= lineLimit_ ? inserted : count - lineLimit_;
    QTextCursor oldest(text);
    oldest.setPosition(text->findBlockByNumber(first).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
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
