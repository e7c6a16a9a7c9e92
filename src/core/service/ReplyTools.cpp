#include "core/service/ReplyTools.h"

#include "core/service/ServiceLog.h"

namespace ReplyTools {

namespace {

// "GET /api/v1/models": the request a log line speaks of. The path only: the
// query and the headers (the key) stay out.
QString request(const QNetworkReply &reply)
{
    const QString method = reply.operation() == QNetworkAccessManager::PostOperation ? QStringLiteral("POST")
                                                                                     : QStringLiteral("GET");
    return method + QLatin1Char(' ') + reply.url().path();
}

} // namespace

std::optional<int> status(const QNetworkReply &reply)
{
    const QVariant value = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!value.isValid())
        return std::nullopt;
    return value.toInt();
}

std::optional<double> retryAfter(const QNetworkReply &reply)
{
    for (const QNetworkReply::RawHeaderPair &header : reply.rawHeaderPairs()) {
        if (header.first.compare("Retry-After", Qt::CaseInsensitive) == 0)
            return ORError::parseRetryAfter(header.second);
    }
    return std::nullopt;
}

ORError httpFailure(const QNetworkReply &reply, int status, const QByteArray &body)
{
    // A daily limit says where the day stands; response headers win over
    // the copies in the body.
    const ORError error
        = ORError::fromHTTP(status, ORError::parseBody(body), retryAfter(reply))
              .withStatedLimit(
                  RateLimit::fromHeaders(reply.rawHeaderPairs()).orElse(RateLimit::fromErrorBody(body)));
    qCWarning(lcService).noquote() << request(reply) << "answered HTTP" << status << error.kind();
    return error;
}

QByteArray readRest(QNetworkReply &reply, qsizetype limit)
{
    if (!reply.isOpen())
        return {};
    return limit < 0 ? reply.readAll() : reply.read(limit);
}

ORError transportFailure(const QNetworkReply &reply, bool abortedByUs)
{
    const ORError error = ORError::wrap(reply.error(), reply.errorString(), abortedByUs);
    if (!error.is(ORError::Kind::cancelled))
        qCWarning(lcService).noquote() << request(reply) << "failed:" << reply.error() << error.kind();
    return error;
}

void discard(QPointer<QNetworkReply> &reply, const QObject *receiver)
{
    if (!reply)
        return;
    QObject::disconnect(reply, nullptr, receiver, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
    reply = nullptr;
}

} // namespace ReplyTools
