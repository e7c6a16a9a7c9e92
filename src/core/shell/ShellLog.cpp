#include "core/shell/ShellLog.h"

Q_LOGGING_CATEGORY(lcShell, "tolvi.shell", QtWarningMsg)
