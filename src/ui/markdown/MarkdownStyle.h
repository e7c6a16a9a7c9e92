#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// Colours and fonts shared by the Markdown views. Colours are read from the
// palette at paint time, so the views follow a light or dark appearance.
namespace MarkdownStyle {

QColor primary(const QPalette &palette, qreal opacity = 1.0);
QColor secondary(const QPalette &palette, qreal opacity = 1.0);
QFont captionFont(const QFont &base);
QFont codeFont();

} // namespace MarkdownStyle
