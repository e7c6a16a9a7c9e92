#pragma once

#include <functional>

class QWidget;

// Colours taken from a palette and then set as a palette of their own, or
// written into a style sheet, stay at the colours of the moment they were
// set: after the desktop switches between light and dark they no longer
// match what is around them. follow() runs apply now and again each time
// the widget's palette changes, until the widget is gone.
namespace PaletteFollower {

void follow(QWidget *widget, std::function<void()> apply);

} // namespace PaletteFollower
