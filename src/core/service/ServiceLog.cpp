#include "core/service/ServiceLog.h"

Q_LOGGING_CATEGORY(lcService, "tolvi.service", QtWarningMsg)
