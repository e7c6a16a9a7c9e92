#include "ui/style/Palette.h"

#include "ui/style/PaletteFollower.h"

#include <QWidget>

namespace Palette {

namespace {

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

} // namespace

QColor primary(const QPalette &palette, qreal opacity)
{
    return withOpacity(palette.color(primaryRole), opacity);
}

QColor primary(const QWidget *widget, qreal opacity)
{
    return primary(widget->palette(), opacity);
}

QColor secondary(const QPalette &palette, qreal opacity)
{
    return withOpacity(palette.color(secondaryRole), opacity);
}

QColor secondary(const QWidget *widget, qreal opacity)
{
    return secondary(widget->palette(), opacity);
}

QColor accent(const QPalette &palette, qreal opacity)
{
    return withOpacity(palette.color(QPalette::Highlight), opacity);
}

QColor accent(const QWidget *widget, qreal opacity)
{
    return accent(widget->palette(), opacity);
}

QColor warning(const QPalette &palette, qreal opacity)
{
    // The bright orange of dark appearances is too faint as text on a light
    // window; the deeper one keeps a readable contrast there.
    const QColor color = isDark(palette) ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xC9, 0x5A, 0x00);
    return withOpacity(color, opacity);
}

QColor warning(const QWidget *widget, qreal opacity)
{
    return warning(widget->palette(), opacity);
}

QColor separator(const QPalette &palette)
{
    return primary(palette, 0.12);
}

QColor separator(const QWidget *widget)
{
    return separator(widget->palette());
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(role, color);
    widget->setPalette(palette);
}

void useSecondaryText(QWidget *widget)
{
    PaletteFollower::follow(widget, [widget] { setTextColor(widget, secondary(widget)); });
}

} // namespace Palette
