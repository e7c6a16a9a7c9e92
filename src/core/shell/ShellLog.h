#pragma once

#include <QLoggingCategory>

// The desktop integration: the global hot key, the single instance and the
// tray. What the desktop refused, and why, so that a person who finds the
// hot key or the tray missing can learn the reason.
Q_DECLARE_LOGGING_CATEGORY(lcShell)
