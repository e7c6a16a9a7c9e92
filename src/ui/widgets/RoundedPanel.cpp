#include "ui/widgets/RoundedPanel.h"

#include <QPainter>

namespace RoundedPanel {
namespace {

constexpr int quarter = 90 * 16; // QPainter angles are in 1/16 degree

bool fitsCorners(const QRect &rect, int radius)
{
    return rect.width() >= 2 * radius && rect.height() >= 2 * radius;
}

} // namespace

void fill(QPainter &painter, const QRect &rect, int radius, const QColor &color, Corners corners)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.setRenderHint(QPainter::Antialiasing);
    const int r = radius;
    const int x = rect.x();
    const int y = rect.y();
    const int w = rect.width();
    const int h = rect.height();
    const bool roundBottom = corners == Corners::All;
    if (!fitsCorners(rect, r)) {
        painter.drawRoundedRect(QRectF(rect), r, r);
        painter.restore();
        return;
    }
    const int bottomBand = roundBottom ? r : 0;
    painter.fillRect(QRect(x + r, y, w - 2 * r, r), color);
    painter.fillRect(QRect(x, y + r, w, h - r - bottomBand), color);
    painter.drawPie(QRectF(x, y, 2 * r, 2 * r), quarter, quarter);
    painter.drawPie(QRectF(x + w - 2 * r, y, 2 * r, 2 * r), 0, quarter);
    if (roundBottom) {
        painter.fillRect(QRect(x + r, y + h - r, w - 2 * r, r), color);
        painter.drawPie(QRectF(x, y + h - 2 * r, 2 * r, 2 * r), 2 * quarter, quarter);
        painter.drawPie(QRectF(x + w - 2 * r, y + h - 2 * r, 2 * r, 2 * r), 3 * quarter, quarter);
    }
    painter.restore();
}

void outline(QPainter &painter, const QRect &rect, int radius, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const int r = radius;
    const int x = rect.x();
    const int y = rect.y();
    const int w = rect.width();
    const int h = rect.height();
    painter.setPen(QPen(color, 1));
    painter.setBrush(Qt::NoBrush);
    if (!fitsCorners(rect, r)) {
        painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), r, r);
        painter.restore();
        return;
    }
    painter.fillRect(QRect(x + r, y, w - 2 * r, 1), color);
    painter.fillRect(QRect(x + r, y + h - 1, w - 2 * r, 1), color);
    painter.fillRect(QRect(x, y + r, 1, h - 2 * r), color);
    painter.fillRect(QRect(x + w - 1, y + r, 1, h - 2 * r), color);
    // Arcs through the middle of the edge pixels, so they meet the edges.
    const qreal d = 2 * r - 1;
    painter.drawArc(QRectF(x + 0.5, y + 0.5, d, d), quarter, quarter);
    painter.drawArc(QRectF(x + w - 0.5 - d, y + 0.5, d, d), 0, quarter);
    painter.drawArc(QRectF(x + 0.5, y + h - 0.5 - d, d, d), 2 * quarter, quarter);
    painter.drawArc(QRectF(x + w - 0.5 - d, y + h - 0.5 - d, d, d), 3 * quarter, quarter);
    painter.restore();
}

} // namespace RoundedPanel
