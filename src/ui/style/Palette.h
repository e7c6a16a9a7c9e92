#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

// The colours the views paint with, named for what they are for and taken
// from the widget's palette (the desktop's), so that every view follows a
// light or a dark appearance alike. An opacity makes the faint tints of
// the same colour: a panel behind code, the user's bubble, an outline.
namespace Palette {

// The palette roles behind the text colours, for widgets that draw a role
// of their own (a label's foreground role, a text view's text role) and so
// follow a change of palette without being told.
inline constexpr QPalette::ColorRole primaryRole = QPalette::WindowText;
inline constexpr QPalette::ColorRole secondaryRole = QPalette::PlaceholderText;

// Body text, and the tints of panels and outlines.
QColor primary(const QPalette &palette, qreal opacity = 1.0);
QColor primary(const QWidget *widget, qreal opacity = 1.0);
// Text that says less: notes, captions, footers, the model's reasoning.
QColor secondary(const QPalette &palette, qreal opacity = 1.0);
QColor secondary(const QWidget *widget, qreal opacity = 1.0);
// The selection's colour: the send button, the user's bubble, a focus line.
QColor accent(const QPalette &palette, qreal opacity = 1.0);
QColor accent(const QWidget *widget, qreal opacity = 1.0);
// What warns: the issue box's sign and tint, a warning line. Orange, in a
// deeper shade on a light window, where the bright one is too faint as text.
QColor warning(const QPalette &palette, qreal opacity = 1.0);
QColor warning(const QWidget *widget, qreal opacity = 1.0);
// The hairline between the columns and around the input bar.
QColor separator(const QPalette &palette);
QColor separator(const QWidget *widget);

// Draws the widget's text in color (labels, buttons and text views alike).
void setTextColor(QWidget *widget, const QColor &color);
// Draws the widget's text in the secondary colour, now and after every
// change of palette.
void useSecondaryText(QWidget *widget);

} // namespace Palette
