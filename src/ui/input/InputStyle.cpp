#include "ui/input/InputStyle.h"

#include <QPainter>

namespace InputStyle {

QColor orange()
{
    return QColor(255, 149, 0);
}

QPixmap tinted(const QIcon &icon, int side, const QColor &colour, qreal dpr)
{
    const QPixmap glyph = icon.pixmap(QSize(side, side), dpr);
    if (glyph.isNull())
        return glyph;
    // Painted pixel for pixel; the ratio is put back at the end.
    QImage shape = glyph.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    shape.setDevicePixelRatio(1);
    QPainter painter(&shape);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shape.rect(), colour);
    painter.end();
    shape.setDevicePixelRatio(glyph.devicePixelRatio());
    return QPixmap::fromImage(shape);
}

} // namespace InputStyle
