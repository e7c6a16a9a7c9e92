#pragma once

#include <QColor>
#include <QPixmap>

// A filled warning triangle with the exclamation mark cut out of it, drawn
// in one colour, size × size logical pixels at the given pixel ratio.
QPixmap warningSign(int size, const QColor &color, qreal devicePixelRatio);
