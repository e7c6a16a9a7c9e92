#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// Fonts and colours of the conversation pane, read from the widget's
// palette so that they follow a light or dark appearance.
namespace ConversationStyle {

QFont callout(const QFont &base); // 12 px
QFont caption(const QFont &base); // 11 px
QColor secondary(const QWidget *widget, qreal opacity = 1.0);
QColor accent(const QWidget *widget, qreal opacity = 1.0);
// Draws the widget's text (and icon tint) in the secondary colour.
void useSecondaryText(QWidget *widget);

} // namespace ConversationStyle
