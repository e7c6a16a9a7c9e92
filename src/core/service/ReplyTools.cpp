#include "service/ReplyTools.h"

namespace ReplyTools {

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
    return ORError::fromHTTP(status, ORError::parseBody(body), retryAfter(reply));
}

QByteArray readRest(QNetworkReply &reply, qsizetype limit)
{
    if (!reply.isOpen())
        return {};
    return limit < 0 ? reply.readAll() : reply.read(limit);
}

ORError transportFailure(const QNetworkReply &reply, bool abortedByUs)
{
    return ORError::wrap(reply.error(), reply.errorString(), abortedByUs);
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
