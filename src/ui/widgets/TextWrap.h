#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

// Plain text broken into lines the way every wrapping text view here breaks
// it: at word boundaries, and inside a word only where the word alone is
// wider than the line. So no text ever needs more width than the line it is
// given; "\n" always starts a new line.
namespace TextWrap {

// The lines at this width, each without the blanks it ended with.
QStringList lines(const QString &text, const QFont &font, int width);
// The height of the text at this width (0 for no text).
int height(const QString &text, const QFont &font, int width);
// The width of the widest line when nothing wraps.
int naturalWidth(const QString &text, const QFont &font);
// Draws the text wrapped at rect's width from rect's top, each line aligned
// horizontally as alignment says.
void draw(QPainter &painter, const QRect &rect, const QString &text, const QFont &font,
    Qt::Alignment alignment = Qt::AlignLeft);

} // namespace TextWrap
