#pragma once

#include <QLoggingCategory>

// Failures of the Secret Service calls. Never the key: the operation and
// libsecret's reason only.
Q_DECLARE_LOGGING_CATEGORY(lcKeyring)
