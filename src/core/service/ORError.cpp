#include "core/service/ORError.h"

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

QString httpDetails(int status, const QString &text)
{
    return QStringLiteral("HTTP %1: %2").arg(QString::number(status), text);
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
    // A delay that cannot be written as a whole number of seconds (NaN, an
    // infinity, beyond 64 bits) counts as no delay at all.
    if (retryAfter && NumberText::fitsInt64(*retryAfter))
        e.m_retryAfter = retryAfter;
    e.m_daily = daily;
    return e;
}

ORError ORError::withStatedLimit(const RateLimit &stated) const
{
    ORError e = *this;
    if (m_kind == Kind::rateLimited && m_daily)
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
        if (m_daily)
            return QStringLiteral(
                "Daily free limit reached; it resets at midnight UTC, or add credits at %1.")
                .arg(QLatin1String(websiteHost));
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
    case Kind::rateLimited:
        if (m_retryAfter)
            return m_text + QStringLiteral(" (Retry-After: %1s)").arg(whole(*m_retryAfter));
        return m_text;
    case Kind::server:
    case Kind::badRequest:
    case Kind::exchangeRejected:
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
    const QString lower = message.toLower();
    switch (status) {
    case 400:
        if (lower.contains(QLatin1String("no endpoints"))
            || lower.contains(QLatin1String("not a valid model")))
            return modelUnavailable(message);
        return badRequest(400, message);
    case 401:
        return unauthorized(message);
    case 402:
        return paymentRequired(message);
    case 404:
        return modelUnavailable(message);
    case 408:
        return timeout();
    case 429: {
        const bool daily = lower.contains(QLatin1String("per-day"))
            || lower.contains(QLatin1String("per day")) || lower.contains(QLatin1String("daily"));
        return rateLimited(message, retryAfter, daily);
    }
    default:
        break;
    }
    if (status >= 500 && status <= 599)
        return server(status, message);
    return badRequest(status, message);
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
    const std::optional<double> seconds = NumberText::parseDecimal(text);
    if (!seconds || !NumberText::fitsInt64(*seconds))
        return std::nullopt;
    return seconds;
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
