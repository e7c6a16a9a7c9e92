#pragma once

#include <QString>

// The one word, at the first close while a tray keeps Tolvi running, of how
// to bring the window back. It is remembered ("trayHintShown" in the
// settings) only once it was shown, so a desktop whose tray cannot show
// messages leaves it for a later one that can.
namespace FirstCloseHint {

// The message to show now, and remembers that it was shown; empty when it
// was shown before or the tray cannot show it.
QString take(bool trayShowsMessages, bool hotKeyRegistered);

} // namespace FirstCloseHint
