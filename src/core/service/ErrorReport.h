#pragma once

#include "core/service/RateLimit.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

// What one error answer of the service says, read apart before it is
// classified: the service's own message kept apart from a provider's raw
// words (which may speak of the provider's own limits and must never be
// taken for the account's), the kind the service names, a moderation's
// reasons, and the delays and limits it states.
struct ErrorReport {
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    int status = 0; // the HTTP status, or the code of an error inside a stream
    QString message; // the service's own words
    QString line; // one line for the technical details (the message and the raw words)
    QString errorType; // "metadata"."error_type", when the service names one
    QStringList reasons; // "metadata"."reasons" of a moderation
    // The Retry-After header, else "metadata"."retry_after_seconds"; never
    // negative.
    std::optional<double> retryAfter;
    // X-RateLimit-*: the response headers win over "metadata"."headers".
    RateLimit stated;
    // When the service answered, by its Date header (epoch ms), else when
    // the answer arrived here: a limit's reset is measured from it, so that
    // a wrong local clock does not stretch a wait.
    qint64 answeredAtMs = 0;

    // An error response: its status, as much of its body as was read, and
    // its headers. nowMs is the local time of its arrival.
    static ErrorReport fromResponse(int status, const QByteArray &body, const Headers &headers, qint64 nowMs);
    // The "error" object of an event inside a stream whose response carried
    // headers. The code stands in for the status (500 when it is no number).
    static ErrorReport fromStreamError(const QJsonObject &error, const Headers &headers, qint64 nowMs);

    // An HTTP date ("Tue, 08 Dec 2026 11:23:30 GMT") in epoch ms.
    static std::optional<qint64> parseHttpDate(const QByteArray &text);
    // Seconds until the stated reset, from when the service answered;
    // nothing when no reset was stated.
    std::optional<double> secondsToReset() const;
};
