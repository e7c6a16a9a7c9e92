// The words and decisions of a reply with fallback: why a model was left,
// whether it is cooled, what a reply that got no answer tells the user, what
// an answer is signed with and how it ended.

#include "core/conversation/ReplyWithFallback.h"

using Kind = ORError::Kind;

// Failures whose own words say all: no "every model failed" before them.
static bool speaksForItself(const ORError &error)
{
    switch (error.kind()) {
    case Kind::network:
    case Kind::contextTooLong:
    case Kind::flagged:
        return true;
    default:
        return error.isAccountWide();
    }
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
    case Kind::contextTooLong:
        return QStringLiteral("the chat was too long for it");
    case Kind::flagged:
        return QStringLiteral("its provider flagged the message");
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

AppIssue ReplyWithFallback::failureIssue(const std::optional<ORError> &lastError,
    const QStringList &failureLines, bool alone, const QString &webOrigin)
{
    AppIssue issue;
    if (!lastError)
        issue.message = QStringLiteral("No free model is available right now.");
    else if (alone || speaksForItself(*lastError))
        issue.message = lastError->message();
    else
        issue.message
            = QStringLiteral("Every free model I tried failed. Last problem: ") + lastError->message();
    if (lastError && lastError->is(Kind::privacyExcluded))
        issue.action = IssueAction{ QStringLiteral("Open Privacy Settings"),
            QUrl(webOrigin + QStringLiteral("/settings/privacy")) };
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
    // The account's limits and settings, a conversation too long and a
    // provider's moderation say nothing about whether the model works.
    if (error.isAccountWide() || error.is(Kind::contextTooLong) || error.is(Kind::flagged)
        || error.is(Kind::cancelled))
        return {};
    if (error.is(Kind::rateLimited))
        return { true, error.retryAfter() };
    return { true, std::nullopt };
}

bool ReplyWithFallback::endsReply(const ORError &error)
{
    return error.is(Kind::cancelled) || error.isAccountWide();
}

std::optional<AnswerCut> ReplyWithFallback::cutOf(const StreamResult &result)
{
    if (result.finishReason == QLatin1String("length"))
        return AnswerCut::length;
    if (result.finishReason == QLatin1String("content_filter"))
        return AnswerCut::filter;
    if (!result.finishReason && !result.sawDone)
        return AnswerCut::connection;
    return std::nullopt;
}
