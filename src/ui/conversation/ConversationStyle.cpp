#include "conversation/ConversationStyle.h"

#include <QPalette>
#include <QWidget>

namespace ConversationStyle {

QFont callout(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(12);
    return font;
}

QFont caption(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(11);
    return font;
}

QColor secondary(const QWidget *widget, qreal opacity)
{
    QColor color = widget->palette().color(QPalette::PlaceholderText);
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

QColor accent(const QWidget *widget, qreal opacity)
{
    QColor color = widget->palette().color(QPalette::Highlight);
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

void useSecondaryText(QWidget *widget)
{
    QPalette palette = widget->palette();
    const QColor color = palette.color(QPalette::PlaceholderText);
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace ConversationStyle
