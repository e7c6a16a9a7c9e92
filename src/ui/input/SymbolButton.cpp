#include "ui/input/SymbolButton.h"

#include "ui/icons/Icons.h"
#include "ui/input/InputStyle.h"
#include "ui/style/Palette.h"

#include <QPainter>

SymbolButton::SymbolButton(
    const char *iconName, const QString &name, Tone tone, int side, int padding, QWidget *parent)
    : QAbstractButton(parent)
    , m_iconName(iconName)
    , m_tone(tone)
    , m_side(side)
    , m_padding(padding)
{
    setFixedSize(side, side);
    setToolTip(name);
    setAccessibleName(name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

QSize SymbolButton::sizeHint() const
{
    return { m_side, m_side };
}

QColor SymbolButton::circleColour() const
{
    switch (m_tone) {
    case accentTone:
        return isEnabled() ? Palette::accent(palette()) : Palette::secondary(palette(), 0.5);
    case primaryTone:
        return Palette::primary(palette());
    case overlayTone:
        return QColor(0, 0, 0, 128);
    }
    return {};
}

QColor SymbolButton::symbolColour() const
{
    switch (m_tone) {
    case accentTone:
        return palette().color(QPalette::HighlightedText);
    case primaryTone:
        return palette().color(QPalette::Base);
    case overlayTone:
        return Qt::white;
    }
    return {};
}

void SymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.7);
    else if (underMouse() && isEnabled())
        painter.setOpacity(0.85);

    const QRectF circle = QRectF(rect()).adjusted(m_padding, m_padding, -m_padding, -m_padding);
    painter.setPen(Qt::NoPen);
    painter.setBrush(circleColour());
    painter.drawEllipse(circle);
    if (hasFocus()) {
        painter.setPen(QPen(Palette::primary(palette(), 0.6), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));
    }

    // The symbol takes a little over half of the circle, like a filled
    // circle symbol of the size's weight.
    const int glyphSide = qMax(6, qRound(circle.width() * 0.58));
    const QPixmap glyph
        = InputStyle::tinted(Icons::symbol(m_iconName), glyphSide, symbolColour(), devicePixelRatioF());
    if (glyph.isNull())
        return;
    const QSizeF logical = glyph.deviceIndependentSize();
    painter.drawPixmap(
        QPointF(circle.center().x() - logical.width() / 2, circle.center().y() - logical.height() / 2),
        glyph);
}
