#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>

class QWidget;

// Fonts and colours of the conversation pane, read from the widget's
// palette so that they follow a light or dark appearance.
namespace ConversationStyle {

QFont callout(const QFont &base); // 12 px
QFont caption(const QFont &base); // 11 px
QColor secondary(const QWidget *widget, qreal opacity = 1.0);
QColor accent(const QWidget *widget, qreal opacity = 1.0);
// Draws the widget's text in the secondary colour, in light and dark alike.
void useSecondaryText(QWidget *widget);
// A symbol icon (by freedesktop name) drawn in one colour.
QIcon tintedSymbol(const char *themeName, const QColor &color, int size);

} // namespace ConversationStyle
