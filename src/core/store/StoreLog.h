#pragma once

#include <QLoggingCategory>

// Failures of the chat store's file work. Never a title, a message or an
// image: ids, file names and the system's reasons only.
Q_DECLARE_LOGGING_CATEGORY(lcStore)
