#include "core/auth/AuthLog.h"

Q_LOGGING_CATEGORY(lcAuth, "tolvi.auth", QtWarningMsg)
