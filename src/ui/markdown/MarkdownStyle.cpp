#include "ui/markdown/MarkdownStyle.h"

#include <QFontDatabase>

namespace MarkdownStyle {

QColor primary(const QPalette &palette, qreal opacity)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

QColor secondary(const QPalette &palette, qreal opacity)
{
    QColor color = palette.color(QPalette::PlaceholderText);
    color.setAlphaF(color.alphaF() * float(opacity));
    return color;
}

QFont captionFont(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(11);
    return font;
}

QFont codeFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
    return font;
}

} // namespace MarkdownStyle
