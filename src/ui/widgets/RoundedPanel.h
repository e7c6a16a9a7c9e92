#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// Rounded rectangles painted in pieces: plain rectangles for the straight
// parts and small antialiased corners. A code block can be taller than the
// window, and the painter's path rasteriser (threads included) for a shape
// that size costs more than the text inside it, at every repaint.
namespace RoundedPanel {

enum class Corners { All, Top };

void fill(
    QPainter &painter, const QRect &rect, int radius, const QColor &color, Corners corners = Corners::All);
// A one-pixel outline just inside rect.
void outline(QPainter &painter, const QRect &rect, int radius, const QColor &color);

} // namespace RoundedPanel
