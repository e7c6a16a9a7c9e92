// Which reply a request gets: the test's routes first, then the fixtures that
// stand in for the service's catalogue, statistics, key check and sign-in.
#include "FakeServicePrivate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>

namespace fake {

namespace {

const QByteArray apiPrefix = "/api/v1";

QString s256(const QString &verifier)
{
    const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString queryValue(const QUrlQuery &query, const QString &name)
{
    return query.queryItemValue(name, QUrl::FullyDecoded);
}

std::optional<Reply> takeQueued(QList<Reply> *queue)
{
    if (!queue || queue->isEmpty())
        return std::nullopt;
    return queue->takeFirst();
}

Reply nonStreamingCompletion(const QString &model)
{
    const QString id = sse::newId();
    return Reply::json(200,
        QJsonObject{ { "id", id }, { "provider", "Example" }, { "model", model },
            { "object", "chat.completion" }, { "created", QDateTime::currentSecsSinceEpoch() },
            { "choices",
                QJsonArray{ QJsonObject{ { "index", 0 },
                    { "message", QJsonObject{ { "role", "assistant" }, { "content", "Hello there." } } },
                    { "finish_reason", "stop" }, { "native_finish_reason", "stop" } } } },
            { "usage",
                QJsonObject{
                    { "prompt_tokens", 12 }, { "completion_tokens", 3 }, { "total_tokens", 15 } } } });
}

} // namespace

bool isChatRequest(const Request &request)
{
    return request.method == "POST" && request.pathOnly() == apiPrefix + "/chat/completions";
}

QString servedModel(const QString &requested)
{
    return requested == QLatin1String("openrouter/free") ? QStringLiteral("vendor/routed-model:free")
                                                         : requested;
}

QString freshKey()
{
    QByteArray bytes(32, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return QStringLiteral("sk-or-v1-") + QString::fromLatin1(bytes.toHex());
}

Reply FakeService::Private::route(const Request &request)
{
    if (std::optional<Reply> reply = routed(request))
        return *reply;
    if (std::optional<Reply> reply = fixture(request))
        return *reply;
    if (isChatRequest(request))
        return defaultChat(request);
    return Reply::error(404, QStringLiteral("Not Found"));
}

std::optional<Reply> FakeService::Private::routed(const Request &request)
{
    if (responder)
        if (std::optional<Reply> reply = responder(request))
            return reply;
    const QList<QByteArray> keys{ request.method + ' ' + request.path,
        request.method + ' ' + request.pathOnly() };
    for (const QByteArray &key : keys)
        if (std::optional<Reply> reply = takeQueued(queued.contains(key) ? &queued[key] : nullptr))
            return reply;
    for (const QByteArray &key : keys)
        if (standing.contains(key))
            return standing.value(key);
    if (!isChatRequest(request))
        return std::nullopt;
    const QString model = request.model();
    if (std::optional<Reply> reply = takeQueued(queuedChat.contains(model) ? &queuedChat[model] : nullptr))
        return reply;
    if (standingChat.contains(model))
        return standingChat.value(model);
    return anyChat;
}

std::optional<Reply> FakeService::Private::fixture(const Request &request)
{
    const QByteArray path = request.pathOnly();
    if (request.method == "GET" && path == "/auth")
        return signInPage(request);
    if (!path.startsWith(apiPrefix + '/'))
        return std::nullopt;
    const QByteArray call = path.mid(apiPrefix.size());
    if (request.method == "GET" && call == "/models")
        return Reply::json(200,
            QJsonObject{ { "data", catalogue }, { "total_count", catalogue.size() },
                { "links", QJsonObject{ { "next", QJsonValue::Null } } } });
    if (request.method == "GET" && call.startsWith("/models/") && call.endsWith("/endpoints"))
        return endpoints(call);
    if (request.method == "GET" && call == "/key")
        return keyInfo(request);
    if (request.method == "POST" && call == "/auth/keys")
        return exchange(request);
    return std::nullopt;
}

std::optional<Reply> FakeService::Private::keyProblem(const Request &request) const
{
    const QString key = request.bearer();
    if (key.isEmpty())
        return Reply::error(401, QStringLiteral("No cookie auth credentials found"));
    const bool valid
        = !validKeys || validKeys->contains(key) || (!exchangeKey.isEmpty() && key == exchangeKey);
    if (!valid)
        return Reply::error(401, QStringLiteral("User not found."));
    return std::nullopt;
}

Reply FakeService::Private::keyInfo(const Request &request) const
{
    if (std::optional<Reply> problem = keyProblem(request))
        return *problem;
    const QString key = request.bearer();
    const QString label = key.size() > 14 ? key.left(11) + QStringLiteral("...") + key.right(3) : key;
    // Every member the service's own client library requires, most of which
    // Tolvi ignores.
    QJsonObject data{ { "label", label }, { "limit", QJsonValue::Null },
        { "limit_remaining", QJsonValue::Null }, { "limit_reset", QJsonValue::Null }, { "usage", 0 },
        { "usage_daily", 0 }, { "usage_weekly", 0 }, { "usage_monthly", 0 }, { "byok_usage", 0 },
        { "byok_usage_daily", 0 }, { "byok_usage_weekly", 0 }, { "byok_usage_monthly", 0 },
        { "include_byok_in_limit", false }, { "is_free_tier", freeTier }, { "is_management_key", false },
        { "is_provisioning_key", false }, { "allowed_data_regions", QJsonArray{ "global" } },
        { "creator_user_id", "user_2fAkEsErViCe" }, { "organization_id", QJsonValue::Null },
        { "workspace_id", QJsonValue::Null },
        { "rate_limit",
            QJsonObject{
                { "requests", -1 }, { "interval", "10s" }, { "note", "This field is deprecated." } } } };
    if (daily) {
        const QDate today = QDateTime::currentDateTimeUtc().date();
        int used = daily->usedElsewhere;
        for (const Request &earlier : requests)
            used += isChatRequest(earlier) && earlier.bearer() == key && earlier.received.date() == today;
        data.insert("free_model_daily_requests",
            QJsonObject{ { "limit", daily->limit }, { "remaining", std::max(0, daily->limit - used) },
                { "used", used } });
    }
    return Reply::json(200, QJsonObject{ { "data", data } });
}

Reply FakeService::Private::endpoints(const QByteArray &call) const
{
    const QByteArray encoded = call.mid(
        int(qstrlen("/models/")), call.size() - int(qstrlen("/models/")) - int(qstrlen("/endpoints")));
    const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
    if (!stats.contains(id))
        return Reply::error(404, QStringLiteral("No endpoints found for %1.").arg(id));
    const Stats entry = stats.value(id);
    QJsonValue body = entry.body;
    if (body.isObject() && body.toObject().value("data").isObject()) {
        // Fill in the model's own id and name, as the service does.
        QJsonObject object = body.toObject();
        QJsonObject data = object.value("data").toObject();
        if (!data.contains("id"))
            data.insert("id", id);
        if (!data.contains("name"))
            data.insert("name", id);
        object.insert("data", data);
        body = object;
    }
    Reply reply = body.isString() ? Reply::text(200, body.toString().toUtf8(), "application/json")
                                  : Reply::json(200, body);
    reply.headDelayMs = entry.delayMs;
    return reply;
}

Reply FakeService::Private::exchange(const Request &request) const
{
    const QJsonObject body = request.json();
    const QString code = body.value("code").toString();
    if (exchangeCode.isEmpty() || code != exchangeCode)
        return Reply::error(403, QStringLiteral("Invalid authorization code."));
    if (!lastChallenge.isEmpty() && s256(body.value("code_verifier").toString()) != lastChallenge)
        return Reply::error(403, QStringLiteral("Invalid code_verifier."));
    return Reply::json(200, QJsonObject{ { "key", exchangeKey }, { "user_id", "user_2fAkEsErViCe" } });
}

Reply FakeService::Private::signInPage(const Request &request)
{
    const qsizetype mark = request.path.indexOf('?');
    const QUrlQuery query(QString::fromUtf8(mark < 0 ? QByteArray() : request.path.mid(mark + 1)));
    const QString callback = queryValue(query, QStringLiteral("callback_url"));
    if (callback.isEmpty())
        return Reply::text(400, "Missing callback_url\n");
    lastChallenge = queryValue(query, QStringLiteral("code_challenge"));

    auto item = [](const char *name, const QString &value) {
        return QByteArray(name) + '=' + QUrl::toPercentEncoding(value);
    };
    QByteArray answer;
    if (!authError.isEmpty()) {
        answer = item("error", authError);
        if (!authErrorDescription.isEmpty())
            answer += '&' + item("error_description", authErrorDescription);
    } else {
        answer = item("code", exchangeCode.isEmpty() ? QStringLiteral("fake-code") : exchangeCode);
    }
    const QByteArray separator = callback.contains(QLatin1Char('?')) ? "&" : "?";
    Reply reply = Reply::text(302, QByteArray(), "text/html");
    reply.headers.append({ "Location", callback.toUtf8() + separator + answer });
    return reply;
}

Reply FakeService::Private::defaultChat(const Request &request) const
{
    if (std::optional<Reply> problem = keyProblem(request))
        return *problem;
    const QJsonObject body = request.json();
    const QString model = body.value("model").toString();
    if (model.isEmpty())
        return Reply::error(400, QStringLiteral("No models provided"));
    if (!body.value("stream").toBool())
        return nonStreamingCompletion(servedModel(model));
    return Reply::stream(servedModel(model), { QStringLiteral("Hello"), QStringLiteral(" there.") });
}

} // namespace fake
