#pragma once

#include "core/service/ORError.h"
#include "core/util/Outcome.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A message as sent to the service. The system prompt travels separately.
struct APIMessage {
    QString role;
    QString text;
    QStringList images;

    bool operator==(const APIMessage &) const = default;
};

// The outcome of one completed stream.
struct StreamResult {
    std::optional<QString> modelUsed;
    std::optional<double> firstChunkAfter; // seconds
    qsizetype chars = 0; // user-perceived characters delivered
    // The first choice's finish reason ("stop", "length", "content_filter",
    // …): the one that says the answer was cut wins over a later "stop".
    std::optional<QString> finishReason;
    // The stream ended with "[DONE]" (or was a whole answer in one body).
    // With neither this nor a finish reason the transfer was cut short.
    bool sawDone = false;
};

// One usable free model.
struct ORModel {
    QString id;
    QString name;
    int contextLength = 0;
    bool supportsImages = false;

    bool operator==(const ORModel &) const = default;

    // {"id","name","contextLength","supportsImages"}; all four required.
    QJsonObject toJson() const;
    static std::optional<ORModel> fromJson(const QJsonObject &object);
};

// Best uptime (percent) and lowest latency (ms) of a model's endpoints.
struct EndpointStats {
    std::optional<double> uptime;
    std::optional<double> latencyMs;

    bool operator==(const EndpointStats &) const = default;
};

struct Done {
};
using StreamOutcome = Outcome<StreamResult, ORError>;
using ModelsOutcome = Outcome<QList<ORModel>, ORError>;
using BytesOutcome = Outcome<QByteArray, ORError>;
// A probe yields the measured seconds or the error.
using ProbeOutcome = Outcome<double, ORError>;
// "free_model_daily_requests" of GET /key: the service's own count of the
// account's requests to free models in the current UTC day, from every app
// and the website. The limit (50 or 1000) follows the credits ever bought,
// not "is_free_tier".
struct DailyRequests {
    int limit = 0;
    int remaining = 0;
    int used = 0;

    bool operator==(const DailyRequests &) const = default;

    // All three members as whole, non-negative numbers; else nothing.
    static std::optional<DailyRequests> fromJson(const QJsonValue &value);
};

// What GET /key tells about an accepted key.
struct KeyInfo {
    // "is_free_tier": the account never bought credits. Nothing when the
    // answer does not say, which leaves the day's limit unknown.
    std::optional<bool> isFreeTier;
    // Nothing when the answer lacks the member (older answers) or it is
    // malformed.
    std::optional<DailyRequests> daily;

    bool operator==(const KeyInfo &) const = default;
};
using KeyCheckOutcome = Outcome<KeyInfo, ORError>;
