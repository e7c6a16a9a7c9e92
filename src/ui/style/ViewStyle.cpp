#include "ui/style/ViewStyle.h"

#include <QFontDatabase>

namespace ViewStyle {

QFont sized(const QFont &base, int pixelSize, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont title2(const QFont &base)
{
    return sized(base, 17, QFont::DemiBold);
}

QFont title3(const QFont &base)
{
    return sized(base, 15);
}

QFont headline(const QFont &base)
{
    return sized(base, 13, QFont::DemiBold);
}

QFont body(const QFont &base)
{
    return sized(base, 13);
}

QFont callout(const QFont &base)
{
    return sized(base, 12);
}

QFont caption(const QFont &base)
{
    return sized(base, 11);
}

QFont monospace(int pixelSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace ViewStyle
