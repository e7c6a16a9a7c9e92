#include "ui/widgets/WrappingLabel.h"

#include "ui/widgets/TextWrap.h"

#include <QPainter>

WrappingLabel::WrappingLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

WrappingLabel::WrappingLabel(const QString &text, QWidget *parent)
    : WrappingLabel(parent)
{
    setText(text);
}

int WrappingLabel::extraWidth() const
{
    const QMargins m = contentsMargins();
    return m.left() + m.right() + 2 * margin();
}

int WrappingLabel::extraHeight() const
{
    const QMargins m = contentsMargins();
    return m.top() + m.bottom() + 2 * margin();
}

void WrappingLabel::forgetStaleMeasures() const
{
    if (m_measuredText == text() && m_measuredFont == font())
        return;
    m_measuredText = text();
    m_measuredFont = font();
    m_naturalWidth = -1;
    m_heightWidth = -1;
}

int WrappingLabel::textHeight(int textWidth) const
{
    forgetStaleMeasures();
    if (m_heightWidth != textWidth) {
        m_heightWidth = textWidth;
        m_height = TextWrap::height(text(), font(), textWidth);
    }
    return m_height;
}

int WrappingLabel::naturalWidth() const
{
    forgetStaleMeasures();
    if (m_naturalWidth < 0)
        m_naturalWidth = TextWrap::naturalWidth(text(), font());
    return m_naturalWidth;
}

int WrappingLabel::heightForWidth(int width) const
{
    return textHeight(width - extraWidth()) + extraHeight();
}

QSize WrappingLabel::sizeHint() const
{
    // One spare pixel so that rounding never wraps the last word.
    const int width = naturalWidth() + 1 + extraWidth();
    return { width, heightForWidth(width) };
}

QSize WrappingLabel::minimumSizeHint() const
{
    const int width = qMin(sizeHint().width(), fontMetrics().averageCharWidth() * 4 + extraWidth());
    return { width, fontMetrics().height() + extraHeight() };
}

void WrappingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    TextWrap::draw(painter, area, text(), font(), alignment());
}
