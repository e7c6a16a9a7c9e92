#pragma once

#include <QLoggingCategory>

// Refreshes of the model ladder: their steps, timings and failures. Model
// ids and counts only; never the key.
Q_DECLARE_LOGGING_CATEGORY(lcRanker)
