#include "core/quota/QuotaLog.h"

Q_LOGGING_CATEGORY(lcQuota, "tolvi.quota", QtWarningMsg)
