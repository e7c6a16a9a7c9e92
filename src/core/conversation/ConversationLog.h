#pragma once

#include "core/service/ORError.h"

#include <QLoggingCategory>

// How replies go: which models were asked, why one was left for the next,
// how long they took, and why a reply got no answer. Model ids, failure
// kinds, HTTP statuses and times only; never the key, a message, a title,
// the system prompt, an image or the service's error texts (they may quote
// the provider's raw answer).
Q_DECLARE_LOGGING_CATEGORY(lcConversation)

namespace ConversationLog {

// A failure's kind as one word, such as "timeout" or "rateLimited".
const char *kindName(ORError::Kind kind);

} // namespace ConversationLog
