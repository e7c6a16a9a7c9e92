#pragma once

#include <QLoggingCategory>

// Sign-in and the keyring's calls. Never the key, the sign-in code, the
// PKCE verifier or state, or what the service says back: the step, the
// status, the kind of failure and libsecret's reason only.
Q_DECLARE_LOGGING_CATEGORY(lcAuth)
