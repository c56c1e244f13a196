// The multi-line edit field. Text appended with AppendText is part of the
// field at once (every read sees it, every user action comes after it) but
// reaches the widget's document once per display frame, in one piece: a
// server logging thousands of lines a second would otherwise spend most of
// its time laying out and painting them one by one.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>

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
    // Keeps at most limit lines (0: no limit). Appending past the limit
    // drops the oldest whole lines in one go, keeping nine tenths of the
    // limit and the line being written.
    void SetLineLimit(int limit);
    // Puts appended text that is still waiting into the document.
    void Flush();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void AppendKeepingView(const QString& text);
    int DropOldestLines();

    QString pending_;
    QTimer flushTimer_;
    int lineLimit_ = 0;
};
