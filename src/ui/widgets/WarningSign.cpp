#include "ui/widgets/WarningSign.h"

#include <QPainter>
#include <QPainterPath>

QPixmap warningSign(int size, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath triangle;
    triangle.moveTo(s * 0.5, s * 0.06);
    triangle.lineTo(s * 0.97, s * 0.9);
    triangle.lineTo(s * 0.03, s * 0.9);
    triangle.closeSubpath();
    painter.setPen(QPen(color, s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(color);
    painter.drawPath(triangle);

    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const qreal bar = s * 0.13;
    painter.drawRoundedRect(QRectF(s * 0.5 - bar / 2, s * 0.33, bar, s * 0.3), bar / 2, bar / 2);
    painter.drawEllipse(QPointF(s * 0.5, s * 0.75), bar * 0.62, bar * 0.62);
    return pixmap;
}
