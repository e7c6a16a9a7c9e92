#pragma once

// Realistic bodies and replies of the chat service, for scripting the fake.
#include "FakeService.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

namespace fake {

// Catalogue entries (GET /api/v1/models "data" elements) in the service's
// shape: prices as strings, "architecture" with modality and the two
// modality lists, "expiration_date", and members the client ignores.
namespace catalogue {
QJsonObject freeModel(const QString &id, const QString &name, int contextLength = 131072,
    const QStringList &inputs = { QStringLiteral("text") },
    const QStringList &outputs = { QStringLiteral("text") });
QJsonObject paidModel(const QString &id, const QString &name, int contextLength = 131072,
    const QString &prompt = QStringLiteral("0.0000001"),
    const QString &completion = QStringLiteral("0.0000004"));
QJsonObject router(); // "openrouter/free", "Free Models Router"
// Returns entry with "expiration_date" set ("YYYY-MM-DD", or null when empty).
QJsonObject expiring(QJsonObject entry, const QString &date);
// A few free models (one that sees images), the router and a paid model.
QJsonArray sample();
} // namespace catalogue

// Endpoint statistics bodies (GET /api/v1/models/<id>/endpoints).
namespace stats {
// {"p50":..,"p75":..,"p90":..,"p99":..} around the median.
QJsonObject latency(double p50);
// One endpoint; uptime and latency may be a number, null, or (latency) an
// object of percentiles.
QJsonObject endpoint(
    const QJsonValue &uptime, const QJsonValue &latency, const QString &provider = QStringLiteral("Example"));
// {"data":{"endpoints":[...]}}; the fake fills in "id" and "name".
QJsonObject endpoints(const QJsonArray &list);
// One healthy-looking endpoint with this uptime (percent) and median latency.
QJsonObject endpoints(double uptime, double latencyP50);
} // namespace stats

// Error replies as the service sends them.
namespace replies {
// Where a 429 carries its X-RateLimit-Limit, -Remaining and -Reset (none
// left, the reset at the next midnight UTC): in the error's
// metadata.headers, as response headers, or both.
enum class RateHeaders { inMetadata, asResponseHeaders, both };
// 429 free-models-per-day, limit 50 (1000 with highBalance).
Reply dailyLimit(bool highBalance = false, RateHeaders where = RateHeaders::inMetadata);
// 429 free-models-per-min, limit 20.
Reply minuteLimit(
    const std::optional<QByteArray> &retryAfter = {}, RateHeaders where = RateHeaders::inMetadata);
// 429 free-models-per-min, limit 20, the reset resetInMs after now.
Reply minuteLimitFor(int resetInMs, RateHeaders where = RateHeaders::inMetadata);
Reply upstreamRateLimited(const QString &model, int retryAfterSeconds); // 429 from the provider
// A provider's 429 whose raw words speak of the provider's own daily quota.
Reply providerDailyQuota(const QString &model);
// 400: the conversation is longer than the endpoint's context of tokens.
Reply contextTooLong(int tokens = 8192);
// 403: the provider's moderation flagged the input for reasons.
Reply moderated(const QString &model, const QStringList &reasons = { QStringLiteral("harassment") });
// 404: the account's privacy settings exclude every free endpoint.
Reply privacyExcluded();
// A streaming request answered 200 with one JSON error body.
Reply errorBodyOn200(int code = 502);
Reply unauthorized(); // 401 "User not found."
Reply invalidModel(const QString &model); // 400 "... is not a valid model ID"
Reply noEndpoints(const QString &model); // 404 "No endpoints found for ..."
Reply providerError(int status = 502); // "Provider returned error"
} // namespace replies

} // namespace fake
