// The multi-line edit field. Positions and lengths are counted as the
// platform counts them, with each line end as the two characters "\r\n";
// the widget's document holds one separator there.
#pragma once

#include <QPlainTextEdit>
#include <QString>

class EditField : public QPlainTextEdit {
public:
    explicit EditField(QWidget* parent);

    // Replaces the selection, or inserts at the caret, leaving the caret
    // after the new text. Text inserted this way cannot be undone.
    void ReplaceSelection(const QString& text);
    // Adds text at the end, leaving the caret, the selection and the view
    // where the user put them; a view that showed the end follows it.
    // Appended text cannot be undone.
    void AppendText(const QString& text);
    // Removes the first count characters, the same way: the caret, the
    // selection and the view stay on the text they were on, and move to
    // the start when that text went.
    void DropText(int count);

    int Length() const;
    int LineCount() const;
    // Where line starts; -1 past the last line.
    int LineIndex(int line) const;
    // The line that holds position.
    int LineFromChar(int position) const;

private:
    template <typename Change>
    void ChangeKeepingView(Change change);
};
