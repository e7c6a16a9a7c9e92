#pragma once

#include <cstdint>

class QWindow;

// Asks an X11 window manager to bring a window to the front with the focus,
// with the time of the person's action that asked for it. Window managers
// that prevent focus stealing (Mutter, KWin, Xfwm4, Metacity) refuse a
// request older than the person's last action in another program. Qt asks
// with the time of the last event it handled itself, which is old when the
// action was a key press that a grab took before Qt saw it: this asks again
// with the right one.
namespace X11Activation {

// Does nothing off X11, for a window not yet created, or without a time.
void activate(QWindow &window, std::uint32_t timestamp);

} // namespace X11Activation
