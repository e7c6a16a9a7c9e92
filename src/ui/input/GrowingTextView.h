#pragma once

#include "ui/input/SendTextView.h"

// The message editor of the input bar: a plain-text editor whose height
// follows its text (from one line up to a limit, beyond which it scrolls),
// whose text a controller can replace without hearing its own change back,
// and which takes keyboard focus when it first appears and whenever it is
// handed a new focus token.
class GrowingTextView : public SendTextView
{
    Q_OBJECT
public:
    explicit GrowingTextView(QWidget *parent = nullptr);

    // The whole text, line breaks as "\n".
    QString text() const;
    // Replaces the text when it differs (the cursor then goes to the end and
    // the undo history starts afresh); textEdited() is not emitted.
    void setText(const QString &text);
    // Focus moves here on the next turn of the event loop whenever token
    // differs from the last one handed over.
    void setFocusToken(int token);

    // The height the laid-out text occupies plus the insets above and
    // below (and the pixel of slack the editor needs to show all of it),
    // counted up to a little over the tallest the editor grows.
    int measuredHeight() const;

Q_SIGNALS:
    // The person changed the text.
    void textEdited(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void followTextHeight();
    void focusSoon();

    bool m_replacing = false;
    bool m_shownOnce = false;
    int m_focusToken = 0;
};
