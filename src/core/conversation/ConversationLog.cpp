#include "core/conversation/ConversationLog.h"

// Info and debug only when QT_LOGGING_RULES asks for them.
Q_LOGGING_CATEGORY(lcConversation, "tolvi.conversation", QtWarningMsg)

namespace ConversationLog {

const char *kindName(ORError::Kind kind)
{
    using Kind = ORError::Kind;
    switch (kind) {
    case Kind::unauthorized:
        return "unauthorized";
    case Kind::paymentRequired:
        return "paymentRequired";
    case Kind::rateLimited:
        return "rateLimited";
    case Kind::server:
        return "server";
    case Kind::modelUnavailable:
        return "modelUnavailable";
    case Kind::badRequest:
        return "badRequest";
    case Kind::network:
        return "network";
    case Kind::signInDenied:
        return "signInDenied";
    case Kind::exchangeRejected:
        return "exchangeRejected";
    case Kind::other:
        return "other";
    case Kind::timeout:
        return "timeout";
    case Kind::emptyReply:
        return "emptyReply";
    case Kind::cancelled:
        return "cancelled";
    case Kind::signInTimeout:
        return "signInTimeout";
    case Kind::browserFailed:
        return "browserFailed";
    case Kind::contextTooLong:
        return "contextTooLong";
    case Kind::flagged:
        return "flagged";
    case Kind::privacyExcluded:
        return "privacyExcluded";
    }
    return "unknown";
}

} // namespace ConversationLog
