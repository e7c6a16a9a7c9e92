#include "core/conversation/ImageLog.h"

Q_LOGGING_CATEGORY(lcImages, "tolvi.images", QtWarningMsg)
