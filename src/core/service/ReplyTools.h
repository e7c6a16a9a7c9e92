#pragma once

#include "core/service/ORError.h"

#include <QNetworkReply>
#include <QPointer>
#include <optional>

// Readings of a reply shared by the calls, and its disposal.
namespace ReplyTools {

// The HTTP status, or nothing when no HTTP response head arrived.
std::optional<int> status(const QNetworkReply &reply);

inline bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// The classified failure of a non-2xx response, from what was read of its
// body.
ORError httpFailure(const QNetworkReply &reply, int status, const QByteArray &body);

// What is still buffered in the reply; nothing once Qt has closed it (it
// does so when it aborts a transfer itself, as on its inactivity time-out).
QByteArray readRest(QNetworkReply &reply, qsizetype limit = -1);

// A failed transfer that produced no usable response, folded.
ORError transportFailure(const QNetworkReply &reply, bool abortedByUs);

// Disconnects the reply from receiver, aborts it when still running (no
// handler of receiver sees that abort) and schedules its deletion.
void discard(QPointer<QNetworkReply> &reply, const QObject *receiver);

} // namespace ReplyTools
