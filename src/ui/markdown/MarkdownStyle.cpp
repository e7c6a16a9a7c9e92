#include "ui/markdown/MarkdownStyle.h"

#include <QFontDatabase>

namespace MarkdownStyle {

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
