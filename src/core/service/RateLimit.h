#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <optional>

// What the service states about the account's free requests of the day in
// X-RateLimit-Limit, -Remaining and -Reset (the reset in epoch
// milliseconds). It sends them as response headers or inside an error's
// metadata.headers, as strings; any of them may be missing. Per-minute
// limits use the same names for the minute's numbers, so only a daily-limit
// answer's numbers speak of the day.
struct RateLimit {
    std::optional<int> limit;
    std::optional<int> remaining;
    std::optional<qint64> resetMs;

    bool operator==(const RateLimit &) const = default;

    // The fields this one lacks, taken from fallback.
    RateLimit orElse(const RateLimit &fallback) const;

    // Header names are compared without case; a value that is not a whole,
    // non-negative number is left out.
    static RateLimit fromHeaders(const QList<QPair<QByteArray, QByteArray>> &headers);
    // The "metadata"."headers" object of an error object.
    static RateLimit fromErrorObject(const QJsonObject &error);
};
