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
QFont headingFont(const QFont &base, int level);
QFont codeFont();
// Indentation as wanted, but never more than a quarter of the width it
// sits in: deep nesting must leave room for the text.
int indent(int wanted, int width);

} // namespace MarkdownStyle
