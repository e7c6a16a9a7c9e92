#include "markdown/SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Both drawings are on a 16 x 16 grid, scaled to the pixmap.
void drawCopy(QPainter &painter)
{
    painter.drawRoundedRect(QRectF(5.5, 1.5, 9, 10), 1.5, 1.5);
    QPainterPath back;
    back.moveTo(3.5, 4.5);
    back.lineTo(2.5, 4.5);
    back.quadTo(1.5, 4.5, 1.5, 5.5);
    back.lineTo(1.5, 13.5);
    back.quadTo(1.5, 14.5, 2.5, 14.5);
    back.lineTo(9.5, 14.5);
    back.quadTo(10.5, 14.5, 10.5, 13.5);
    painter.drawPath(back);
}

void drawCheckmark(QPainter &painter)
{
    QPainterPath check;
    check.moveTo(2.5, 8.5);
    check.lineTo(6.5, 12.5);
    check.lineTo(13.5, 3.5);
    painter.drawPath(check);
}

QPixmap drawn(const QString &themeName, const QColor &color, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    painter.setPen(
        QPen(color, themeName == u"object-select" ? 2.0 : 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (themeName == u"object-select")
        drawCheckmark(painter);
    else
        drawCopy(painter);
    return pixmap;
}

} // namespace

namespace SymbolIcons {

QIcon icon(const QString &themeName, const QColor &color)
{
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    if (themeName != u"edit-copy" && themeName != u"object-select")
        return {};
    QIcon fallback;
    for (int size : { 16, 24, 32, 48 })
        fallback.addPixmap(drawn(themeName, color, size));
    return fallback;
}

} // namespace SymbolIcons
