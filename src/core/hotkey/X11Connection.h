#pragma once

#include <xcb/xcb.h>

// The application's own X connection: null off X11 (Wayland, offscreen) or
// before there is a QGuiApplication.
xcb_connection_t *applicationX11Connection();
