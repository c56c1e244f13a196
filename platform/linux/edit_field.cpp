#include "platform/linux/edit_field.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace {

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

EditField::EditField(QWidget* parent) : QPlainTextEdit(parent) {}

void EditField::ReplaceSelection(const QString& text)
{
    QTextCursor at = textCursor();
    WithoutUndo(document(), [&] { at.insertText(text); });
    setTextCursor(at);
}

// A reader who has scrolled away from the end keeps the same lines in view,
// even when lines above them are dropped; otherwise the view follows the end.
// The caret and the selection keep their place in the text. change returns
// how many characters of the document went from its start.
template <typename Change>
void EditField::ChangeKeepingView(Change change)
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
    WithoutUndo(document(), [&] { dropped = change(); });
    // A caret at the old end stays there; one in dropped text goes to the start.
    user.setPosition(std::max(0, anchor - dropped));
    user.setPosition(std::max(0, position - dropped), QTextCursor::KeepAnchor);
    const QTextCursor now = textCursor();
    if (now.anchor() != user.anchor() || now.position() != user.position())
        setTextCursor(user);
    bar->setValue(following ? bar->maximum() : firstShown.blockNumber());
}

void EditField::AppendText(const QString& text)
{
    ChangeKeepingView([&] {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(text);
        return 0;
    });
}

void EditField::DropText(int count)
{
    if (count <= 0)
        return;
    // Each line end before the cut is one separator in the document.
    const int dropped = std::min(count - LineFromChar(count), document()->characterCount() - 1);
    ChangeKeepingView([&] {
        QTextCursor oldest(document());
        oldest.setPosition(dropped, QTextCursor::KeepAnchor);
        oldest.removeSelectedText();
        return dropped;
    });
}

int EditField::Length() const
{
    return document()->characterCount() - 1 + LineCount() - 1;
}

int EditField::LineCount() const
{
    return document()->blockCount();
}

int EditField::LineIndex(int line) const
{
    const QTextBlock block = document()->findBlockByNumber(line);
    return block.isValid() ? block.position() + line : -1;
}

int EditField::LineFromChar(int position) const
{
    int first = 0;
    int last = LineCount() - 1;
    while (first < last) {
        const int middle = (first + last + 1) / 2;
        if (LineIndex(middle) <= position)
            first = middle;
        else
            last = middle - 1;
    }
    return first;
}
