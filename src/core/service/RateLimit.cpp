#include "core/service/RateLimit.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

namespace {

const QByteArray limitName = "x-ratelimit-limit";
const QByteArray remainingName = "x-ratelimit-remaining";
const QByteArray resetName = "x-ratelimit-reset";

std::optional<qint64> wholeNumber(const QByteArray &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (value.isString())
        return wholeNumber(value.toString().toLatin1());
    // 2^53: beyond it a double no longer holds every whole number.
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > 9007199254740992.0 || std::trunc(number) != number)
        return std::nullopt;
    return qint64(number);
}

std::optional<int> count(std::optional<qint64> value)
{
    if (!value || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*value);
}

} // namespace

RateLimit RateLimit::orElse(const RateLimit &fallback) const
{
    return RateLimit{ limit ? limit : fallback.limit, remaining ? remaining : fallback.remaining,
        resetMs ? resetMs : fallback.resetMs };
}

RateLimit RateLimit::fromHeaders(const QList<QPair<QByteArray, QByteArray>> &headers)
{
    RateLimit stated;
    for (const auto &[name, value] : headers) {
        const QByteArray lower = name.toLower();
        if (lower == limitName)
            stated.limit = count(wholeNumber(value));
        else if (lower == remainingName)
            stated.remaining = count(wholeNumber(value));
        else if (lower == resetName)
            stated.resetMs = wholeNumber(value);
    }
    return stated;
}

RateLimit RateLimit::fromErrorObject(const QJsonObject &error)
{
    const QJsonObject headers
        = error.value(QLatin1String("metadata")).toObject().value(QLatin1String("headers")).toObject();
    RateLimit stated;
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        const QByteArray lower = it.key().toLatin1().toLower();
        if (lower == limitName)
            stated.limit = count(wholeNumber(it.value()));
        else if (lower == remainingName)
            stated.remaining = count(wholeNumber(it.value()));
        else if (lower == resetName)
            stated.resetMs = wholeNumber(it.value());
    }
    return stated;
}
