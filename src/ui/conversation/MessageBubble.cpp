#include "conversation/MessageBubble.h"

#include "conversation/ConversationStyle.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

MessageBubble::MessageBubble(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setContentsMargins(14, 10, 14, 10);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

int MessageBubble::naturalWidth() const
{
    if (m_measuredWidth >= 0 && m_measuredText == text())
        return m_measuredWidth;
    const QFontMetrics metrics(font());
    int width = 0;
    const QStringList lines = text().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        width = qMax(width, metrics.horizontalAdvance(line));
    m_measuredText = text();
    m_measuredWidth = width;
    return width;
}

QSize MessageBubble::sizeHint() const
{
    const QMargins m = contentsMargins();
    // One spare pixel so that rounding never wraps the last word.
    const int width = naturalWidth() + m.left() + m.right() + 1;
    return { width, heightForWidth(width) };
}

void MessageBubble::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        m_measuredWidth = -1;
    QLabel::changeEvent(event);
}

void MessageBubble::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 18, 18);
        painter.fillPath(shape, ConversationStyle::accent(this, 0.16));
    }
    QLabel::paintEvent(event);
}
