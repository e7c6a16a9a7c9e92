#include "core/export/ExportLog.h"

Q_LOGGING_CATEGORY(lcExport, "tolvi.export", QtWarningMsg)
