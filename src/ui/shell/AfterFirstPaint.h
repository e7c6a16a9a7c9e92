#pragma once

#include <functional>

class QWidget;

// Runs work once the window has painted its first frame, for what the first
// frame does not show (the tray icon, the window's own icon, the hot key):
// the person sees the window sooner and the rest follows a moment later.
// The work is dropped when the window goes first; a window that paints
// nothing within a second gets it done all the same.
void runAfterFirstPaint(QWidget &window, std::function<void()> work);
