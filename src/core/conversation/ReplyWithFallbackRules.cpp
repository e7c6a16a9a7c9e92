// The words and decisions of a reply with fallback: why a model was left,
// whether it is cooled, what a reply that got no answer tells the user, what
// an answer is signed with.

#include "core/conversation/ReplyWithFallback.h"

using Kind = ORError::Kind;

static bool isDailyLimit(const ORError &error)
{
    return error.is(Kind::rateLimited) && error.daily();
}

QString ReplyWithFallback::switchReason(const ORError &error)
{
    switch (error.kind()) {
    case Kind::paymentRequired:
        return QStringLiteral("it needs credit");
    case Kind::modelUnavailable:
        return QStringLiteral("it is no longer available");
    case Kind::timeout:
        return QStringLiteral("it was slow to respond");
    case Kind::emptyReply:
        return QStringLiteral("it sent an empty reply");
    default:
        return QStringLiteral("it was busy");
    }
}

QString ReplyWithFallback::switchNote(const QString &firstFailedName, const QString &reason)
{
    return QStringLiteral("switched from ") + firstFailedName + QStringLiteral(" because ") + reason;
}

QString ReplyWithFallback::failureLine(const ORModel &model, const ORError &error)
{
    return model.name + QStringLiteral(": ") + error.details();
}

AppIssue ReplyWithFallback::failureIssue(
    const std::optional<ORError> &lastError, const QStringList &failureLines)
{
    AppIssue issue;
    if (!lastError)
        issue.message = QStringLiteral("No free model is available right now.");
    else if (lastError->is(Kind::network) || isDailyLimit(*lastError))
        issue.message = lastError->message();
    else
        issue.message
            = QStringLiteral("Every free model I tried failed. Last problem: ") + lastError->message();
    issue.details = failureLines.isEmpty() ? QStringLiteral("No models were available to try.")
                                           : failureLines.join(QLatin1Char('\n'));
    return issue;
}

QString ReplyWithFallback::displayName(const std::optional<ORModel> &known, const QString &modelId)
{
    if (known)
        return known->name;
    const QStringList pieces = modelId.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString name = pieces.isEmpty() ? modelId : pieces.last();
    return name.remove(QStringLiteral(":free"));
}

ReplyWithFallback::Cooling ReplyWithFallback::coolingFor(const ORError &error)
{
    if (error.is(Kind::unauthorized) || isDailyLimit(error))
        return {};
    if (error.is(Kind::rateLimited))
        return { true, error.retryAfter() };
    return { true, std::nullopt };
}

bool ReplyWithFallback::endsReply(const ORError &error)
{
    return error.is(Kind::unauthorized) || error.is(Kind::cancelled) || isDailyLimit(error);
}
