#include "core/service/OpenRouterClient.h"

#include "core/service/ChainedCall.h"
#include "core/service/OneShotCall.h"
#include "core/service/ServiceLog.h"
#include "core/service/StreamChatCall.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkRequest>
#include <QUrl>

namespace {

QString originFromEnvironment()
{
    QString origin = qEnvironmentVariable("TOLVI_SERVICE_ORIGIN");
    if (origin.isEmpty())
        return QStringLiteral("https://openrouter.ai");
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin;
}

QString today()
{
    return QLocale::c().toString(QDate::currentDate(), QStringLiteral("yyyy-MM-dd"));
}

QJsonObject messageObject(const APIMessage &message)
{
    if (message.images.isEmpty())
        return { { QStringLiteral("role"), message.role }, { QStringLiteral("content"), message.text } };
    QJsonArray parts;
    if (!message.text.isEmpty())
        parts.append(QJsonObject{
            { QStringLiteral("type"), QStringLiteral("text") }, { QStringLiteral("text"), message.text } });
    for (const QString &image : message.images) {
        parts.append(QJsonObject{ { QStringLiteral("type"), QStringLiteral("image_url") },
            { QStringLiteral("image_url"), QJsonObject{ { QStringLiteral("url"), image } } } });
    }
    return { { QStringLiteral("role"), message.role }, { QStringLiteral("content"), parts } };
}

} // namespace

OpenRouterClient &OpenRouterClient::shared()
{
    // Never destroyed: it must outlive every call, and the process ends
    // without tearing the network stack down after the application object.
    static OpenRouterClient *const client = new OpenRouterClient(originFromEnvironment());
    return *client;
}

OpenRouterClient::OpenRouterClient(const QString &webOrigin, QObject *parent)
    : QObject(parent)
    , m_webOrigin(webOrigin)
{
}

OpenRouterClient::~OpenRouterClient()
{
    // Calls hold their replies, which belong to the network manager: end the
    // calls while the manager is still there.
    qDeleteAll(findChildren<ServiceCall *>(Qt::FindDirectChildrenOnly));
}

QNetworkAccessManager &OpenRouterClient::network()
{
    if (!m_network) {
        m_network = std::make_unique<QNetworkAccessManager>();
        // Every request carries the key (or, for the key exchange, a sign-in
        // code and its verifier). Qt would follow a redirect to any origin
        // and send all of that along; here a redirect is an answer like any
        // other status and fails the call.
        m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return *m_network;
}

std::optional<QUrl> OpenRouterClient::urlFor(const QString &path) const
{
    const QUrl url(apiBase() + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        qCWarning(lcService).noquote() << "the service origin makes no valid URL for" << path;
        return std::nullopt;
    }
    return url;
}

QNetworkRequest OpenRouterClient::requestFor(const QUrl &url, const QString &key, int timeoutMs) const
{
    QNetworkRequest request(url);
    // Qt writes header values as given: a line break in a pasted key would
    // start a header of its own. Without them the key is simply refused.
    QByteArray bearer = "Bearer " + key.toUtf8();
    bearer.removeIf([](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    request.setRawHeader("Authorization", bearer);
    request.setRawHeader("X-OpenRouter-Title", "Tolvi");
    request.setRawHeader("X-Title", "Tolvi");
    request.setTransferTimeout(timeoutMs);
    return request;
}

QJsonArray OpenRouterClient::encodeMessages(
    const QList<APIMessage> &messages, const std::optional<QString> &system)
{
    QJsonArray array;
    if (system && !system->trimmed().isEmpty())
        array.append(QJsonObject{
            { QStringLiteral("role"), QStringLiteral("system") }, { QStringLiteral("content"), *system } });
    for (const APIMessage &message : messages)
        array.append(messageObject(message));
    return array;
}

StreamCall *OpenRouterClient::streamChat(const QString &key, const QString &model,
    const QList<APIMessage> &messages, const std::optional<QString> &system, std::optional<int> maxTokens,
    double firstChunkTimeout, std::function<void(const QString &)> onToken)
{
    auto *call = new StreamChatCall(
        StreamChatCall::deadlineFromSeconds(firstChunkTimeout), std::move(onToken), this);
    const QString path = QStringLiteral("/chat/completions");
    const std::optional<QUrl> url = urlFor(path);
    if (!url) {
        call->failSoon(ORError::other(QStringLiteral("Bad URL: ") + path));
        return call;
    }
    QNetworkRequest request = requestFor(*url, key, m_inactivityTimeoutMs);
    request.setRawHeader("Content-Type", "application/json");
    QJsonObject body{
        { QStringLiteral("model"), model },
        { QStringLiteral("stream"), true },
        { QStringLiteral("messages"), encodeMessages(messages, system) },
    };
    if (maxTokens)
        body.insert(QStringLiteral("max_tokens"), *maxTokens);
    qCDebug(lcService).noquote() << "POST" << path << "with" << model;
    // Connected before the caller's slots, so the day's numbers are in
    // place when the caller hears of the answer.
    connect(call, &StreamCall::finished, this, [this](const StreamOutcome &outcome) {
        if (!outcome.ok() && outcome.error().statedLimit())
            Q_EMIT dailyLimitAnswered(*outcome.error().statedLimit());
        if (!outcome.ok() && outcome.error().is(ORError::Kind::rateLimited))
            Q_EMIT rateLimitAnswered();
    });
    call->start(network(), request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    Q_EMIT freeRequestSent();
    return call;
}

BytesCall *OpenRouterClient::perform(const QString &path, const QString &key, int timeoutMs)
{
    auto *call = new OneShotCall(this);
    const std::optional<QUrl> url = urlFor(path);
    if (url) {
        qCDebug(lcService).noquote() << "GET" << path;
        call->start(network(), requestFor(*url, key, timeoutMs));
    } else {
        call->failSoon(ORError::other(QStringLiteral("Bad URL: ") + path));
    }
    return call;
}

ModelsCall *OpenRouterClient::fetchModels(const QString &key)
{
    auto convert = [](const BytesOutcome &body) -> ModelsOutcome {
        if (!body.ok())
            return body.error();
        return parseCatalogue(body.value(), today());
    };
    return new ChainedCall<ModelsCall, BytesCall, BytesOutcome, ModelsOutcome>(
        perform(QStringLiteral("/models"), key, 30000), convert, this);
}

StatsCall *OpenRouterClient::fetchStats(const QString &key, const QString &modelId)
{
    using Stats = std::optional<EndpointStats>;
    auto convert
        = [](const BytesOutcome &body) -> Stats { return body.ok() ? parseStats(body.value()) : Stats(); };
    const QString path = QStringLiteral("/models/") + modelId + QStringLiteral("/endpoints");
    return new ChainedCall<StatsCall, BytesCall, BytesOutcome, Stats>(
        perform(path, key, 10000), convert, this);
}

ProbeCall *OpenRouterClient::probe(const QString &key, const QString &model)
{
    const double deadline = m_probeDeadline;
    auto convert = [deadline](const StreamOutcome &stream) -> ProbeOutcome {
        if (!stream.ok())
            return stream.error();
        return stream.value().firstChunkAfter.value_or(deadline);
    };
    const QList<APIMessage> hi{ { QStringLiteral("user"), QStringLiteral("hi"), {} } };
    StreamCall *stream = streamChat(key, model, hi, std::nullopt, 1, deadline, {});
    return new ChainedCall<ProbeCall, StreamCall, StreamOutcome, ProbeOutcome>(stream, convert, this);
}

KeyCheckCall *OpenRouterClient::validateKey(const QString &key)
{
    auto convert = [](const BytesOutcome &body) -> KeyCheckOutcome {
        if (!body.ok())
            return body.error();
        return parseKeyInfo(body.value());
    };
    return new ChainedCall<KeyCheckCall, BytesCall, BytesOutcome, KeyCheckOutcome>(
        perform(QStringLiteral("/key"), key, 15000), convert, this);
}

KeyInfo OpenRouterClient::parseKeyInfo(const QByteArray &body)
{
    const QJsonObject data = QJsonDocument::fromJson(body).object().value(QLatin1String("data")).toObject();
    KeyInfo info;
    const QJsonValue freeTier = data.value(QLatin1String("is_free_tier"));
    if (freeTier.isBool())
        info.isFreeTier = freeTier.toBool();
    else
        qCInfo(lcService) << "the key details do not say whether the account is on the free tier";
    const QJsonValue daily = data.value(QLatin1String("free_model_daily_requests"));
    info.daily = DailyRequests::fromJson(daily);
    if (!info.daily && !daily.isUndefined())
        qCInfo(lcService) << "the key details hold the day's free requests in an unexpected shape";
    return info;
}
