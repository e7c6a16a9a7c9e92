#include "ui/style/Contrast.h"

#include <algorithm>
#include <cmath>

namespace Contrast {

namespace {

double linear(float channel)
{
    return channel <= 0.03928f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double luminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double ratio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &color, const QColor &background, double minimum)
{
    // Away from the background: darker on a light one, lighter on a dark one.
    // Black and white themselves reach 4.5 against any background from one
    // side, so the steps end there at the latest.
    const bool darken = luminance(background) > 0.18;
    QColor shade = color.toHsl();
    const float step = darken ? -0.02f : 0.02f;
    while (ratio(shade, background) < minimum) {
        const float lightness = std::clamp(shade.lightnessF() + step, 0.0f, 1.0f);
        if (lightness == shade.lightnessF())
            break;
        shade.setHslF(shade.hslHueF(), shade.hslSaturationF(), lightness, shade.alphaF());
    }
    return shade.toRgb();
}

} // namespace Contrast
