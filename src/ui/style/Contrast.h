#pragma once

#include <QColor>

// Contrast of colours as readers perceive it (the WCAG formula), and the
// nudging of a colour until text in it can be read. Palettes chosen for
// looks (an accent, a link colour) often fall short against the window
// behind them, and more so after a switch between light and dark.
namespace Contrast {

// Body text wants this against its background; large or secondary text
// the lower figure.
inline constexpr double body = 4.5;
inline constexpr double secondary = 3.0;

// Relative luminance, 0 (black) to 1 (white); alpha is ignored.
double luminance(const QColor &color);

// 1 (none) to 21 (black on white).
double ratio(const QColor &a, const QColor &b);

// color made lighter or darker, whichever leads away from background, just
// enough to reach minimum against it; unchanged when it already does.
QColor readableOn(const QColor &color, const QColor &background, double minimum = body);

} // namespace Contrast
