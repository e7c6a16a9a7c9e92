#include "core/service/ReplyTools.h"

#include "core/service/ErrorReport.h"
#include "core/service/ServiceLog.h"

#include <QDateTime>

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

ORError httpFailure(const QNetworkReply &reply, int status, const QByteArray &body)
{
    const ORError error = ORError::classify(
        ErrorReport::fromResponse(status, body, reply.rawHeaderPairs(), QDateTime::currentMSecsSinceEpoch()));
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
