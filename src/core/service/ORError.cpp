#include "core/service/ORError.h"

#include "core/service/ErrorReport.h"
#include "core/service/NumberText.h"
#include "core/util/TextUtil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

QString whole(double seconds)
{
    return QString::number(static_cast<qint64>(std::trunc(seconds)));
}

// A wait told as a whole number of seconds: rounded up, so that a person
// who waits that long finds the limit gone, and never "0 seconds".
QString wholeWait(double seconds)
{
    return QString::number(std::max<qint64>(1, static_cast<qint64>(std::ceil(seconds))));
}

QString httpDetails(int status, const QString &text)
{
    return QStringLiteral("HTTP %1: %2").arg(QString::number(status), text);
}

// Delays the service states are never negative; a negative one says
// nothing, as do those that cannot be written as a whole number of seconds.
std::optional<double> usableDelay(std::optional<double> seconds)
{
    if (!seconds || !NumberText::fitsInt64(*seconds) || *seconds < 0)
        return std::nullopt;
    return seconds;
}

bool speaksOfContextLength(const QString &lower)
{
    return lower.contains(QLatin1String("context_length_exceeded"))
        || (lower.contains(QLatin1String("context length"))
            && (lower.contains(QLatin1String("maximum")) || lower.contains(QLatin1String("exceed"))));
}

// "This endpoint's maximum context length is 8192 tokens. …"
std::optional<int> statedContextLength(const QString &lower)
{
    static const QLatin1String marker("maximum context length is ");
    const qsizetype at = lower.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    qsizetype end = at + marker.size();
    while (end < lower.size() && lower.at(end).isDigit())
        ++end;
    bool ok = false;
    const int tokens = lower.mid(at + marker.size(), end - at - marker.size()).toInt(&ok);
    return ok && tokens > 0 ? std::optional(tokens) : std::nullopt;
}

bool speaksOfDay(const QString &lower)
{
    return lower.contains(QLatin1String("free-models-per-day")) || lower.contains(QLatin1String("per-day"))
        || lower.contains(QLatin1String("per day")) || lower.contains(QLatin1String("daily"));
}

} // namespace

ORError ORError::unauthorized(const QString &text)
{
    ORError e(Kind::unauthorized);
    e.m_text = text;
    return e;
}

ORError ORError::paymentRequired(const QString &text)
{
    ORError e(Kind::paymentRequired);
    e.m_text = text;
    return e;
}

ORError ORError::rateLimited(const QString &text, std::optional<double> retryAfter, bool daily)
{
    ORError e(Kind::rateLimited);
    e.m_text = text;
    e.m_retryAfter = usableDelay(retryAfter);
    e.m_scope = daily ? RateScope::day : RateScope::provider;
    return e;
}

ORError ORError::minuteLimit(const QString &text, std::optional<double> wait)
{
    ORError e(Kind::rateLimited);
    e.m_text = text;
    e.m_retryAfter = usableDelay(wait);
    e.m_scope = RateScope::minute;
    return e;
}

ORError ORError::contextTooLong(int status, const QString &text, std::optional<int> tokenLimit)
{
    ORError e(Kind::contextTooLong);
    e.m_status = status;
    e.m_text = text;
    e.m_tokenLimit = tokenLimit;
    return e;
}

ORError ORError::flagged(int status, const QString &text, const QStringList &reasons)
{
    ORError e(Kind::flagged);
    e.m_status = status;
    e.m_text = text;
    e.m_reasons = reasons;
    return e;
}

ORError ORError::privacyExcluded(const QString &text)
{
    ORError e(Kind::privacyExcluded);
    e.m_text = text;
    return e;
}

bool ORError::isAccountWide() const
{
    switch (m_kind) {
    case Kind::unauthorized:
    case Kind::paymentRequired:
    case Kind::privacyExcluded:
        return true;
    case Kind::rateLimited:
        return m_scope != RateScope::provider;
    default:
        return false;
    }
}

ORError ORError::withStatedLimit(const RateLimit &stated) const
{
    ORError e = *this;
    if (daily())
        e.m_statedLimit = stated;
    return e;
}

ORError ORError::server(int status, const QString &text)
{
    ORError e(Kind::server);
    e.m_status = status;
    e.m_text = text;
    return e;
}

ORError ORError::modelUnavailable(const QString &text)
{
    ORError e(Kind::modelUnavailable);
    e.m_text = text;
    return e;
}

ORError ORError::badRequest(int status, const QString &text)
{
    ORError e(Kind::badRequest);
    e.m_status = status;
    e.m_text = text;
    return e;
}

ORError ORError::network(const QString &text)
{
    ORError e(Kind::network);
    e.m_text = text;
    return e;
}

ORError ORError::signInDenied(const QString &text)
{
    ORError e(Kind::signInDenied);
    e.m_text = text;
    return e;
}

ORError ORError::exchangeRejected(int status, const QString &text)
{
    ORError e(Kind::exchangeRejected);
    e.m_status = status;
    e.m_text = text;
    return e;
}

ORError ORError::other(const QString &text)
{
    ORError e(Kind::other);
    e.m_text = text;
    return e;
}

ORError ORError::timeout()
{
    return ORError(Kind::timeout);
}

ORError ORError::emptyReply()
{
    return ORError(Kind::emptyReply);
}

ORError ORError::cancelled()
{
    return ORError(Kind::cancelled);
}

ORError ORError::signInTimeout()
{
    return ORError(Kind::signInTimeout);
}

ORError ORError::browserFailed()
{
    return ORError(Kind::browserFailed);
}

QString ORError::message() const
{
    switch (m_kind) {
    case Kind::unauthorized:
        return QStringLiteral("Your OpenRouter key isn't valid any more.");
    case Kind::paymentRequired:
        return QStringLiteral("That model needs credit your account doesn't have.");
    case Kind::rateLimited:
        if (m_scope == RateScope::day)
            return QStringLiteral(
                "Daily free limit reached; it resets at midnight UTC, or add credits at %1.")
                .arg(QLatin1String(websiteHost));
        if (m_scope == RateScope::minute)
            return m_retryAfter
                ? QStringLiteral("Too many free requests this minute. Try again in about %1 seconds.")
                      .arg(wholeWait(*m_retryAfter))
                : QStringLiteral("Too many free requests this minute. Try again in a minute.");
        if (m_retryAfter)
            return QStringLiteral("That model is busy right now (try again in about %1 seconds).")
                .arg(whole(*m_retryAfter));
        return QStringLiteral("That model is busy right now.");
    case Kind::server:
        return QStringLiteral("The model's provider had a problem (status %1).")
            .arg(QString::number(m_status));
    case Kind::modelUnavailable:
        return QStringLiteral("That model is no longer available.");
    case Kind::badRequest:
        return QStringLiteral("OpenRouter couldn't process the request (status %1).")
            .arg(QString::number(m_status));
    case Kind::network:
        return QStringLiteral("Can't reach OpenRouter. Check your internet connection.");
    case Kind::signInDenied:
        return QStringLiteral("Sign-in wasn't approved in the browser. Please try again.");
    case Kind::exchangeRejected:
        return QStringLiteral("OpenRouter didn't accept the sign-in. Please try again.");
    case Kind::other:
        return m_text;
    case Kind::timeout:
        return QStringLiteral("The model took too long to start answering.");
    case Kind::emptyReply:
        return QStringLiteral("The model sent an empty reply.");
    case Kind::cancelled:
        return QStringLiteral("Cancelled.");
    case Kind::signInTimeout:
        return QStringLiteral("Sign-in took longer than 3 minutes, so it was stopped. Please try again.");
    case Kind::browserFailed:
        return QStringLiteral("Couldn't open your browser for sign-in.");
    case Kind::contextTooLong:
        return QStringLiteral(
            "This chat is longer than the free models can read. Start a new chat, or remove images.");
    case Kind::flagged:
        if (m_reasons.isEmpty())
            return QStringLiteral("The model's provider flagged this message.");
        return QStringLiteral("The model's provider flagged this message (%1).")
            .arg(m_reasons.join(QStringLiteral(", ")));
    case Kind::privacyExcluded:
        return QStringLiteral("Your OpenRouter privacy settings exclude the free models.");
    }
    return m_text;
}

QString ORError::details() const
{
    switch (m_kind) {
    case Kind::unauthorized:
    case Kind::paymentRequired:
    case Kind::modelUnavailable:
    case Kind::network:
    case Kind::signInDenied:
    case Kind::other:
        return m_text;
    case Kind::privacyExcluded:
        return m_text;
    case Kind::rateLimited:
        if (m_retryAfter && m_scope == RateScope::minute)
            return m_text + QStringLiteral(" (resets in %1s)").arg(wholeWait(*m_retryAfter));
        if (m_retryAfter)
            return m_text + QStringLiteral(" (Retry-After: %1s)").arg(whole(*m_retryAfter));
        return m_text;
    case Kind::server:
    case Kind::badRequest:
    case Kind::exchangeRejected:
    case Kind::contextTooLong:
    case Kind::flagged:
        return httpDetails(m_status, m_text);
    case Kind::timeout:
        return QStringLiteral("No data arrived before the time limit.");
    case Kind::emptyReply:
        return QStringLiteral("The stream finished without any text.");
    case Kind::cancelled:
        return QStringLiteral("Cancelled.");
    case Kind::signInTimeout:
        return QStringLiteral("No callback arrived within 3 minutes.");
    case Kind::browserFailed:
        return QStringLiteral("The desktop could not open the sign-in URL.");
    }
    return m_text;
}

ORError ORError::fromHTTP(int status, const QString &message, std::optional<double> retryAfter)
{
    ErrorReport report;
    report.status = status;
    report.message = message;
    report.line = message;
    report.retryAfter = retryAfter;
    return classify(report);
}

ORError ORError::classify(const ErrorReport &report)
{
    const int status = report.status;
    const QString &text = report.line;
    const QString lower = report.message.toLower();
    const QString &type = report.errorType;
    switch (status) {
    case 401:
        return unauthorized(text);
    case 402:
        return paymentRequired(text);
    case 408:
        return timeout();
    default:
        break;
    }
    if (type == QLatin1String("context_length_exceeded") || (status == 400 && speaksOfContextLength(lower)))
        return contextTooLong(status, text, statedContextLength(lower));
    if (type == QLatin1String("content_policy_violation")
        || (status == 403 && (!report.reasons.isEmpty() || lower.contains(QLatin1String("flagged")))))
        return flagged(status, text, report.reasons);
    if (status == 404 && lower.contains(QLatin1String("data policy")))
        return privacyExcluded(text);
    if (status == 429 || type == QLatin1String("rate_limit_exceeded")) {
        if (lower.contains(QLatin1String("free-models-per-min")))
            return minuteLimit(text, report.secondsToReset() ? report.secondsToReset() : report.retryAfter);
        if (speaksOfDay(lower))
            return rateLimited(text, report.retryAfter, true).withStatedLimit(report.stated);
        return rateLimited(text, report.retryAfter, false);
    }
    if (status == 400
        && (lower.contains(QLatin1String("no endpoints"))
            || lower.contains(QLatin1String("not a valid model"))))
        return modelUnavailable(text);
    if (status == 404)
        return modelUnavailable(text);
    if (status >= 500 && status <= 599)
        return server(status, text);
    return badRequest(status, text);
}

QString ORError::parseBody(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue error = doc.isObject() ? doc.object().value(QLatin1String("error")) : QJsonValue();
    if (error.isObject()) {
        const QJsonObject object = error.toObject();
        QString text = object.value(QLatin1String("message")).toString();
        const QJsonValue metadata = object.value(QLatin1String("metadata"));
        const QString raw = metadata.toObject().value(QLatin1String("raw")).toString();
        if (metadata.isObject() && !raw.isEmpty())
            text += QStringLiteral(" [") + TextUtil::graphemeLeft(raw, 300) + QLatin1Char(']');
        if (!text.isEmpty())
            return text;
    }
    return TextUtil::decodeUtf8(body.left(400)).value_or(QStringLiteral("No details."));
}

std::optional<double> ORError::parseRetryAfter(const QByteArray &headerValue)
{
    QByteArrayView text(headerValue);
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return usableDelay(NumberText::parseDecimal(text));
}

ORError ORError::wrap(QNetworkReply::NetworkError code, const QString &description, bool abortedByUs)
{
    switch (code) {
    case QNetworkReply::OperationCanceledError:
        // Qt reports its own transfer time-out as a cancellation too; only
        // an abort we asked for is a cancel.
        return abortedByUs ? cancelled() : timeout();
    case QNetworkReply::TimeoutError:
        return timeout();
    default:
        return network(description);
    }
}
