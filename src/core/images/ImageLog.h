#pragma once

#include <QLoggingCategory>

// Why an image could not be read or encoded. Never the image, its text or
// its file name: the reader's reason and the picture's size only.
Q_DECLARE_LOGGING_CATEGORY(lcImages)
