#include "FakeFixtures.h"

#include <QDateTime>

namespace fake {

namespace catalogue {

namespace {

QString modalityOf(const QStringList &inputs, const QStringList &outputs)
{
    return inputs.join(QLatin1Char('+')) + QStringLiteral("->") + outputs.join(QLatin1Char('+'));
}

QJsonObject entry(const QString &id, const QString &name, int contextLength, const QStringList &inputs,
    const QStringList &outputs, const QString &prompt, const QString &completion)
{
    const QString canonical = id.section(QLatin1Char(':'), 0, 0);
    return QJsonObject{ { "id", id }, { "canonical_slug", canonical + QStringLiteral("-20250101") },
        { "hugging_face_id", canonical }, { "name", name }, { "created", 1750000000 },
        { "description", QStringLiteral("A model for tests.") }, { "context_length", contextLength },
        { "architecture",
            QJsonObject{ { "modality", modalityOf(inputs, outputs) },
                { "input_modalities", QJsonArray::fromStringList(inputs) },
                { "output_modalities", QJsonArray::fromStringList(outputs) }, { "tokenizer", "Other" },
                { "instruct_type", QJsonValue::Null } } },
        { "pricing",
            QJsonObject{ { "prompt", prompt }, { "completion", completion }, { "request", "0" },
                { "image", "0" }, { "web_search", "0" }, { "internal_reasoning", "0" } } },
        { "top_provider",
            QJsonObject{ { "context_length", contextLength }, { "max_completion_tokens", QJsonValue::Null },
                { "is_moderated", false } } },
        { "per_request_limits", QJsonValue::Null },
        { "supported_parameters", QJsonArray{ "max_tokens", "temperature", "stop" } },
        { "default_parameters", QJsonObject{} }, { "expiration_date", QJsonValue::Null },
        { "supported_voices", QJsonValue::Null },
        { "links", QJsonObject{ { "details", QStringLiteral("/api/v1/models/%1/endpoints").arg(id) } } } };
}

} // namespace

QJsonObject freeModel(const QString &id, const QString &name, int contextLength, const QStringList &inputs,
    const QStringList &outputs)
{
    return entry(id, name, contextLength, inputs, outputs, QStringLiteral("0"), QStringLiteral("0"));
}

QJsonObject paidModel(const QString &id, const QString &name, int contextLength, const QString &prompt,
    const QString &completion)
{
    return entry(
        id, name, contextLength, { QStringLiteral("text") }, { QStringLiteral("text") }, prompt, completion);
}

QJsonObject router()
{
    return freeModel(QStringLiteral("openrouter/free"), QStringLiteral("Free Models Router"), 200000,
        { QStringLiteral("text"), QStringLiteral("image") }, { QStringLiteral("text") });
}

QJsonObject expiring(QJsonObject entry, const QString &date)
{
    entry.insert("expiration_date", date.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(date));
    return entry;
}

QJsonArray sample()
{
    const QStringList textImage{ QStringLiteral("text"), QStringLiteral("image") };
    return QJsonArray{
        freeModel(
            QStringLiteral("vendor/small-model:free"), QStringLiteral("Vendor: Small Model (free)"), 32768),
        freeModel(QStringLiteral("vendor/vision-model:free"), QStringLiteral("Vendor: Vision Model (free)"),
            131072, textImage),
        freeModel(
            QStringLiteral("other/large-model:free"), QStringLiteral("Other: Large Model (free)"), 163840),
        router(),
        paidModel(QStringLiteral("vendor/paid-model"), QStringLiteral("Vendor: Paid Model")),
    };
}

} // namespace catalogue

namespace stats {

QJsonObject latency(double p50)
{
    return QJsonObject{ { "p50", p50 }, { "p75", p50 * 1.35 }, { "p90", p50 * 1.8 }, { "p99", p50 * 3.5 } };
}

QJsonObject endpoint(const QJsonValue &uptime, const QJsonValue &latency, const QString &provider)
{
    return QJsonObject{ { "name", provider + QStringLiteral(" | model") }, { "model_id", "vendor/model" },
        { "model_name", QStringLiteral("Model") }, { "context_length", 131072 },
        { "pricing", QJsonObject{ { "prompt", "0" }, { "completion", "0" } } }, { "provider_name", provider },
        { "tag", provider.toLower() }, { "quantization", "fp8" },
        { "max_completion_tokens", QJsonValue::Null }, { "max_prompt_tokens", QJsonValue::Null },
        { "supported_parameters", QJsonArray{ "max_tokens", "temperature" } }, { "status", 0 },
        { "uptime_last_30m", uptime }, { "uptime_last_5m", uptime }, { "uptime_last_1d", uptime },
        { "supports_implicit_caching", false }, { "supports_voice_cloning", false },
        { "supports_tool_choice",
            QJsonObject{ { "auto", false }, { "function", false }, { "none", false }, { "required", false } } },
        { "latency_last_30m", latency },
        { "throughput_last_30m",
            QJsonObject{ { "p50", 85.3 }, { "p75", 70.1 }, { "p90", 52.4 }, { "p99", 20.9 } } } };
}

QJsonObject endpoints(const QJsonArray &list)
{
    return QJsonObject{ { "data",
        QJsonObject{ { "created", 1750000000 }, { "description", QStringLiteral("A model for tests.") },
            { "architecture",
                QJsonObject{ { "modality", "text->text" }, { "input_modalities", QJsonArray{ "text" } },
                    { "output_modalities", QJsonArray{ "text" } }, { "tokenizer", "Other" },
                    { "instruct_type", QJsonValue::Null } } },
            { "endpoints", list } } } };
}

QJsonObject endpoints(double uptime, double latencyP50)
{
    return endpoints(QJsonArray{ endpoint(uptime, latency(latencyP50)) });
}

} // namespace stats

namespace replies {

namespace {

qint64 nextMidnight()
{
    return QDateTime(QDateTime::currentDateTimeUtc().date().addDays(1), QTime(0, 0), Qt::UTC)
        .toMSecsSinceEpoch();
}

QJsonObject rateHeaders(const QByteArray &limit, qint64 resetMs)
{
    return QJsonObject{ { "X-RateLimit-Limit", QString::fromLatin1(limit) }, { "X-RateLimit-Remaining", "0" },
        { "X-RateLimit-Reset", QString::number(resetMs) } };
}

Reply rateLimited(const QString &message, const std::optional<QByteArray> &retryAfter,
    const QByteArray &limit, RateHeaders where, qint64 resetMs)
{
    const QJsonObject headers = rateHeaders(limit, resetMs);
    QJsonObject metadata{ { "provider_name", QJsonValue::Null } };
    if (where != RateHeaders::asResponseHeaders)
        metadata.insert("headers", headers);
    Reply reply = Reply::error(429, message, retryAfter, metadata);
    if (where != RateHeaders::inMetadata) {
        for (auto it = headers.constBegin(); it != headers.constEnd(); ++it)
            reply.headers.append({ it.key().toLatin1(), it.value().toString().toLatin1() });
    }
    return reply;
}

} // namespace

Reply dailyLimit(bool highBalance, RateHeaders where)
{
    const QString message = highBalance
        ? QStringLiteral("Rate limit exceeded: free-models-per-day-high-balance.")
        : QStringLiteral("Rate limit exceeded: free-models-per-day. Add 10 credits to unlock 1000 free model "
                         "requests per day");
    return rateLimited(message, std::nullopt, highBalance ? "1000" : "50", where, nextMidnight());
}

Reply minuteLimit(const std::optional<QByteArray> &retryAfter, RateHeaders where)
{
    return rateLimited(QStringLiteral("Rate limit exceeded: free-models-per-min. "), retryAfter, "20", where,
        QDateTime::currentMSecsSinceEpoch() + 30000);
}

Reply minuteLimitFor(int resetInMs, RateHeaders where)
{
    return rateLimited(QStringLiteral("Rate limit exceeded: free-models-per-min. "), std::nullopt, "20",
        where, QDateTime::currentMSecsSinceEpoch() + resetInMs);
}

Reply providerDailyQuota(const QString &model)
{
    const QString raw = model
        + QStringLiteral(
            " is temporarily rate-limited upstream: the provider allows 1000 requests per day for "
            "this provider's free tier. Please retry later.");
    return Reply::error(429, QStringLiteral("Provider returned error"), std::nullopt,
        QJsonObject{ { "raw", raw }, { "provider_name", "Example" }, { "retry_after_seconds", 900 } });
}

Reply contextTooLong(int tokens)
{
    return Reply::error(400,
        QStringLiteral("This endpoint's maximum context length is %1 tokens. However, you requested about %2 "
                       "tokens (%2 of text input). Please reduce the length of either one, or use the "
                       "\"middle-out\" transform to compress your prompt automatically.")
            .arg(tokens)
            .arg(tokens + 931),
        std::nullopt, QJsonObject{ { "provider_name", QJsonValue::Null } });
}

Reply moderated(const QString &model, const QStringList &reasons)
{
    const QString quoted = reasons.isEmpty() ? QString() : QStringLiteral("\"") + reasons.first() + "\"";
    const QString slug = QString(model).remove(QStringLiteral(":free"));
    return Reply::error(403,
        QStringLiteral("%1 requires moderation on Example. Your input was flagged for %2. No credits were "
                       "charged.")
            .arg(model, quoted),
        std::nullopt,
        QJsonObject{ { "reasons", QJsonArray::fromStringList(reasons) }, { "flagged_input", "..." },
            { "provider_name", "Example" }, { "model_slug", slug } });
}

Reply privacyExcluded()
{
    return Reply::error(404,
        QStringLiteral("No endpoints found matching your data policy (Free model publication). Configure: "
                       "https://openrouter.ai/settings/privacy"));
}

Reply errorBodyOn200(int code)
{
    return Reply::json(200,
        QJsonObject{ { "error", QJsonObject{ { "code", code }, { "message", "Provider returned error" } } },
            { "user_id", "user_2fAkEsErViCe" } });
}

Reply upstreamRateLimited(const QString &model, int retryAfterSeconds)
{
    const QString raw = model
        + QStringLiteral(
            " is temporarily rate-limited upstream. Please retry shortly, or add your own key to "
            "accumulate your rate limits.");
    return Reply::error(429, QStringLiteral("Provider returned error"), QByteArray::number(retryAfterSeconds),
        QJsonObject{
            { "raw", raw }, { "provider_name", "Example" }, { "retry_after_seconds", retryAfterSeconds } });
}

Reply unauthorized()
{
    return Reply::error(401, QStringLiteral("User not found."));
}

Reply invalidModel(const QString &model)
{
    return Reply::error(400, model + QStringLiteral(" is not a valid model ID"));
}

Reply noEndpoints(const QString &model)
{
    return Reply::error(404, QStringLiteral("No endpoints found for %1.").arg(model));
}

Reply providerError(int status)
{
    return Reply::error(status, QStringLiteral("Provider returned error"), std::nullopt,
        QJsonObject{ { "raw", "upstream connect error" }, { "provider_name", "Example" } });
}

} // namespace replies

} // namespace fake
