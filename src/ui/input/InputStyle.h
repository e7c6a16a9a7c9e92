#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// Sizes of the input bar, and the drawing of its symbols. Its colours come
// from Palette, read when painting, so the bar follows a light or dark
// appearance.
namespace InputStyle {

constexpr int textPixelSize = 14;
constexpr int calloutPixelSize = 12;
constexpr int cornerRadius = 18;
constexpr int paddingX = 14;
constexpr int paddingY = 10;
constexpr int rowSpacing = 8;
constexpr int inputRowSpacing = 10;
constexpr int buttonSide = 26;
constexpr int thumbnailSide = 56;
constexpr int thumbnailRadius = 8;
constexpr int thumbnailSpacing = 8;
constexpr int editorInsetY = 4;
constexpr int editorMinHeight = 28;
constexpr int editorMaxHeight = 160;

// The notice's crossed-out eye: a bright orange, the same in light and dark.
QColor orange();

// The icon's shape (its alpha) filled with one colour, for a glyph of side
// logical pixels at the given device pixel ratio.
QPixmap tinted(const QIcon &icon, int side, const QColor &colour, qreal dpr);

} // namespace InputStyle
