#pragma once

#include <QLoggingCategory>

// The service client's requests and their failures. Never the key, a
// message, an image or what the service says about them: the method, the
// path, the status and the kind of failure only.
Q_DECLARE_LOGGING_CATEGORY(lcService)
