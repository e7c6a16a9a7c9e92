#include "auth/KeyringLog.h"

Q_LOGGING_CATEGORY(lcKeyring, "tolvi.keyring", QtWarningMsg)
