#pragma once

#include <QIcon>
#include <QStringList>

// Tolvi's icons. Symbols come from the desktop's icon theme by their
// freedesktop names (document-new, edit-copy, go-up, …); where the theme has
// none, or there is no theme at all as on a minimal desktop (Qt then names
// the fallback theme hicolor), a bundled drawing stands in. Bundled symbols
// take the palette's text colour, so they stay visible on dark palettes.
namespace Icons {

// The theme's icon for themeName, else the bundled one; a null icon for a
// name that is neither.
QIcon symbol(const char *themeName);
// The bundled stand-in alone (null when there is none).
QIcon bundledSymbol(const char *themeName);
// Names that have a bundled stand-in.
QStringList bundledSymbolNames();
// The application and tray icon: two speech bubbles, 16 to 256 pixels.
QIcon app();

} // namespace Icons
