#pragma once

#include <QFont>

// The text styles of the sign-in, issue and settings views, in
// device-independent pixels. Their colours come from Palette.
namespace ViewStyle {

QFont sized(const QFont &base, int pixelSize, QFont::Weight weight = QFont::Normal);
QFont title2(const QFont &base); // 17, semibold
QFont title3(const QFont &base); // 15
QFont headline(const QFont &base); // 13, semibold
QFont body(const QFont &base); // 13
QFont callout(const QFont &base); // 12
QFont caption(const QFont &base); // 11
QFont monospace(int pixelSize);

} // namespace ViewStyle
