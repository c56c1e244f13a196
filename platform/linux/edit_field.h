// The multi-line edit field. Text appended with AppendText, from any
// thread, is part of the field at once (every read sees it, every user
// action comes after it) but reaches the widget's document once per display
// frame, in one piece: a server logging thousands of lines a second would
// otherwise spend most of its time laying out and painting them one by
// one, and its worker would wait for the dialog's thread on every line.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTimer>
#include <memory>
#include <mutex>

// Text appended to a field from any thread, waiting for the field's own
// thread to put it into the widget. Once closed, it takes no more.
class PendingText {
public:
    // Adds text, unless closed. Returns true when it is the first text
    // waiting: whoever adds it sees that the field's thread is told.
    bool Add(const QString& text);
    // Takes all the text that waits.
    QString Take();
    void Close();

private:
    std::mutex mutex_;
    QString text_;
    bool closed_ = false;
};

class EditField : public QPlainTextEdit {
public:
    explicit EditField(QWidget* parent);

    // Replaces the selection, or inserts at the caret, leaving the caret
    // after the new text. Text inserted this way cannot be undone.
    void ReplaceSelection(const QString& text);
    // Adds text at the end, leaving the caret, the selection and the view
    // where the user put them; a view that showed the end follows it.
    // Appended text cannot be undone. Other threads add to Pending()
    // instead, and then have ScheduleFlush run here.
    void AppendText(const QString& text);
    const std::shared_ptr<PendingText>& Pending() const { return pending_; }
    // Shows the waiting text within a frame.
    void ScheduleFlush();
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

    std::shared_ptr<PendingText> pending_ = std::make_shared<PendingText>();
    QTimer flushTimer_;
    int lineLimit_ = 0;
};
