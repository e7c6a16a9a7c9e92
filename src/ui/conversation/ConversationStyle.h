#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>

// Fonts and symbols of the conversation pane; its colours come from
// Palette.
namespace ConversationStyle {

QFont callout(const QFont &base); // 12 px
QFont caption(const QFont &base); // 11 px
// A symbol icon (by freedesktop name) drawn in one colour.
QIcon tintedSymbol(const char *themeName, const QColor &color, int size);

} // namespace ConversationStyle
