#include "core/images/ImageLog.h"

Q_LOGGING_CATEGORY(lcImages, "tolvi.images", QtWarningMsg)
