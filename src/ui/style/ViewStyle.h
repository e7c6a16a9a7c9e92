#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// The text styles and colours of the sign-in, issue, settings and model
// ladder views, in device-independent pixels. Colours come from the
// widget's palette, so that they follow a light or a dark appearance; orange
// is fixed, in a shade that stays readable on the window's background.
namespace ViewStyle {

QFont sized(const QFont &base, int pixelSize, QFont::Weight weight = QFont::Normal);
QFont title2(const QFont &base); // 17, semibold
QFont title3(const QFont &base); // 15
QFont headline(const QFont &base); // 13, semibold
QFont body(const QFont &base); // 13
QFont callout(const QFont &base); // 12
QFont caption(const QFont &base); // 11
QFont monospace(int pixelSize);

QColor primary(const QWidget *widget, qreal opacity = 1.0);
QColor secondary(const QWidget *widget);
QColor accent(const QWidget *widget);
QColor orange(const QWidget *widget, qreal opacity = 1.0);

// Draws the widget's text in color (labels, buttons and text views alike).
void setTextColor(QWidget *widget, const QColor &color);

} // namespace ViewStyle
