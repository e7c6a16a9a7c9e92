#include "ui/style/ViewStyle.h"

#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace ViewStyle {

namespace {

bool isDark(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window).lightnessF() < 0.5;
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

} // namespace

QFont sized(const QFont &base, int pixelSize, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont title2(const QFont &base)
{
    return sized(base, 17, QFont::DemiBold);
}

QFont title3(const QFont &base)
{
    return sized(base, 15);
}

QFont headline(const QFont &base)
{
    return sized(base, 13, QFont::DemiBold);
}

QFont body(const QFont &base)
{
    return sized(base, 13);
}

QFont callout(const QFont &base)
{
    return sized(base, 12);
}

QFont caption(const QFont &base)
{
    return sized(base, 11);
}

QFont monospace(int pixelSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    return font;
}

QColor primary(const QWidget *widget, qreal opacity)
{
    return withOpacity(widget->palette().color(QPalette::WindowText), opacity);
}

QColor secondary(const QWidget *widget)
{
    return widget->palette().color(QPalette::PlaceholderText);
}

QColor accent(const QWidget *widget)
{
    return widget->palette().color(QPalette::Highlight);
}

QColor orange(const QWidget *widget, qreal opacity)
{
    // The bright orange of dark appearances is too faint as text on a light
    // window; the deeper one keeps a readable contrast there.
    const QColor color = isDark(widget) ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xC9, 0x5A, 0x00);
    return withOpacity(color, opacity);
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(role, color);
    widget->setPalette(palette);
}

} // namespace ViewStyle
