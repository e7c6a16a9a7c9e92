#include "core/service/ErrorReport.h"

#include "core/service/NumberText.h"
#include "core/service/ORError.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

namespace {

std::optional<double> retryAfterHeader(const ErrorReport::Headers &headers)
{
    for (const auto &[name, value] : headers) {
        if (name.compare("Retry-After", Qt::CaseInsensitive) == 0)
            return ORError::parseRetryAfter(value);
    }
    return std::nullopt;
}

qint64 answeredAt(const ErrorReport::Headers &headers, qint64 nowMs)
{
    for (const auto &[name, value] : headers) {
        if (name.compare("Date", Qt::CaseInsensitive) == 0)
            return ErrorReport::parseHttpDate(value).value_or(nowMs);
    }
    return nowMs;
}

std::optional<double> retryAfterMember(const QJsonObject &metadata)
{
    const QJsonValue value = metadata.value(QLatin1String("retry_after_seconds"));
    const double seconds = value.toDouble(-1);
    if (!value.isDouble() || seconds < 0 || !NumberText::fitsInt64(seconds))
        return std::nullopt;
    return seconds;
}

QStringList reasonsOf(const QJsonObject &metadata)
{
    QStringList reasons;
    for (const QJsonValue &reason : metadata.value(QLatin1String("reasons")).toArray()) {
        if (reason.isString() && !reason.toString().isEmpty())
            reasons.append(reason.toString());
    }
    return reasons;
}

// What the error object itself says; the caller adds what the response's
// head says.
ErrorReport readErrorObject(int status, const QString &message, const QJsonObject &error)
{
    const QJsonObject metadata = error.value(QLatin1String("metadata")).toObject();
    ErrorReport report;
    report.status = status;
    report.message = message;
    report.errorType = metadata.value(QLatin1String("error_type")).toString();
    report.reasons = reasonsOf(metadata);
    report.retryAfter = retryAfterMember(metadata);
    report.stated = RateLimit::fromErrorObject(error);
    return report;
}

} // namespace

ErrorReport ErrorReport::fromResponse(
    int status, const QByteArray &body, const Headers &headers, qint64 nowMs)
{
    const QJsonObject error = QJsonDocument::fromJson(body).object().value(QLatin1String("error")).toObject();
    const QJsonValue message = error.value(QLatin1String("message"));
    const QString line = ORError::parseBody(body);
    ErrorReport report = readErrorObject(status, message.isString() ? message.toString() : line, error);
    report.line = line;
    if (const std::optional<double> header = retryAfterHeader(headers))
        report.retryAfter = header;
    report.stated = RateLimit::fromHeaders(headers).orElse(report.stated);
    report.answeredAtMs = answeredAt(headers, nowMs);
    return report;
}

ErrorReport ErrorReport::fromStreamError(const QJsonObject &error, const Headers &headers, qint64 nowMs)
{
    const int code = NumberText::exactInt(error.value(QLatin1String("code"))).value_or(500);
    const QJsonValue message = error.value(QLatin1String("message"));
    const QString text
        = message.isString() ? message.toString() : QStringLiteral("The model stopped with an error.");
    ErrorReport report = readErrorObject(code, text, error);
    report.line = text;
    report.answeredAtMs = answeredAt(headers, nowMs);
    return report;
}

std::optional<qint64> ErrorReport::parseHttpDate(const QByteArray &text)
{
    // Qt reads RFC 2822 dates but not the "GMT" that HTTP writes for +0000.
    QString date = QString::fromLatin1(text.trimmed());
    if (date.endsWith(QLatin1String(" GMT")))
        date = date.chopped(4) + QStringLiteral(" +0000");
    const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!when.isValid())
        return std::nullopt;
    return when.toMSecsSinceEpoch();
}

std::optional<double> ErrorReport::secondsToReset() const
{
    if (!stated.resetMs)
        return std::nullopt;
    return std::max<double>(0, double(*stated.resetMs - answeredAtMs) / 1000.0);
}
