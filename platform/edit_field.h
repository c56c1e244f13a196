// The multi-line edit field. Text inserted with ReplaceSelection is part of
// the field at once (every read sees it, every user action comes after it)
// but reaches the widget's document once per display frame, in one piece:
// a server logging thousands of lines a second would otherwise spend most
// of its time laying out and painting them one by one.
#pragma once

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>

class EditField : public QPlainTextEdit {
public:
    explicit EditField(QWidget* parent);

    // Replaces the selection, or inserts at the caret, leaving the caret
    // after the new text. Text inserted this way cannot be undone.
    void ReplaceSelection(const QString& text);
    // Keeps at most limit lines (0: no limit). Passing the limit drops the
    // oldest whole lines, down to nine tenths of it, in one go.
    void SetLineLimit(int limit);
    // Puts inserted text that is still waiting into the document.
    void Flush();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void InsertKeepingView(const QString& text);
    void DropOldestLines(int keep);

    QString pending_;
    QTextCursor pendingAt_;  // the selection the waiting text replaces
    QTimer flushTimer_;
    int lineLimit_ = 0;
};
