#pragma once

#include <QFont>

// Fonts shared by the Markdown views. Their colours come from Palette, read
// at paint time, so the views follow a light or dark appearance.
namespace MarkdownStyle {

QFont captionFont(const QFont &base);
QFont codeFont();

} // namespace MarkdownStyle
