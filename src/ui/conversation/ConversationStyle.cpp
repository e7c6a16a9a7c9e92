#include "ui/conversation/ConversationStyle.h"

#include "ui/icons/Icons.h"
#include "ui/style/PaletteFollower.h"

#include <QPainter>
#include <QPalette>
#include <QPixmap>
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
    PaletteFollower::follow(widget, [widget] {
        QPalette palette = widget->palette();
        const QColor color = palette.color(QPalette::PlaceholderText);
        palette.setColor(QPalette::WindowText, color);
        palette.setColor(QPalette::ButtonText, color);
        palette.setColor(QPalette::Text, color);
        widget->setPalette(palette);
    });
}

QIcon tintedSymbol(const char *themeName, const QColor &color, int size)
{
    const QIcon source = Icons::symbol(themeName);
    QIcon tinted;
    for (qreal scale : { 1.0, 2.0 }) {
        QPixmap pixmap = source.pixmap(QSize(size, size), scale);
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        tinted.addPixmap(pixmap);
    }
    return tinted;
}

} // namespace ConversationStyle
