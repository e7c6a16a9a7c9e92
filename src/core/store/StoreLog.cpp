#include "core/store/StoreLog.h"

Q_LOGGING_CATEGORY(lcStore, "tolvi.store", QtWarningMsg)
