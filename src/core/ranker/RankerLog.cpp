#include "core/ranker/RankerLog.h"

Q_LOGGING_CATEGORY(lcRanker, "tolvi.ranker", QtWarningMsg)
