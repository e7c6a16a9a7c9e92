#pragma once

#include <QLoggingCategory>

// Exporting a chat: which file could not be written, and why.
Q_DECLARE_LOGGING_CATEGORY(lcExport)
