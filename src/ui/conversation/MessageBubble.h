#pragma once

#include <QLabel>

// The user's text: plain, selectable, on a rounded tint of the accent
// colour, as wide as the text needs up to the width it is given.
class MessageBubble : public QLabel
{
    Q_OBJECT
public:
    explicit MessageBubble(QWidget *parent = nullptr);

    // The width of the text unwrapped: a short message gets a snug bubble,
    // a long one the whole width it is given (and wraps there).
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int naturalWidth() const;

    // The layout asks for hints often; measuring a long text each time
    // would be wasted work.
    mutable QString m_measuredText;
    mutable int m_measuredWidth = -1;
};
