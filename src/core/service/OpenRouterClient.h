#pragma once

#include "core/service/ServiceCall.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

// The application's only client of the chat service. All calls start and
// deliver on the main thread through one QNetworkAccessManager, made by the
// first call: a start-up that finds its models cached makes none, and so
// sets up neither the network stack nor TLS before the window shows.
class OpenRouterClient : public QObject
{
    Q_OBJECT
public:
    // The one client of the application. Its origin is "https://openrouter.ai"
    // unless the environment variable TOLVI_SERVICE_ORIGIN replaces it (read
    // on first use).
    static OpenRouterClient &shared();

    explicit OpenRouterClient(const QString &webOrigin, QObject *parent = nullptr);
    ~OpenRouterClient() override;

    QString webOrigin() const { return m_webOrigin; }
    QString apiBase() const { return m_webOrigin + QStringLiteral("/api/v1"); }
    QNetworkAccessManager &network();

    // POST /chat/completions with "stream": true. onToken runs on the main
    // thread, once per piece of text, in order. Fails with timeout when no
    // event arrives within firstChunkTimeout seconds.
    StreamCall *streamChat(const QString &key, const QString &model, const QList<APIMessage> &messages,
        const std::optional<QString> &system, std::optional<int> maxTokens, double firstChunkTimeout,
        std::function<void(const QString &)> onToken);

    // One-shot GET of base + path with the usual headers; the body of a 2xx
    // response, or the classified error.
    BytesCall *perform(const QString &path, const QString &key, int timeoutMs);

    ModelsCall *fetchModels(const QString &key);
    StatsCall *fetchStats(const QString &key, const QString &modelId);
    ProbeCall *probe(const QString &key, const QString &model);
    // GET /key: a 2xx answer accepts the key, whatever its body says.
    KeyCheckCall *validateKey(const QString &key);

    // The "messages" array of a chat-completion request.
    static QJsonArray encodeMessages(const QList<APIMessage> &messages, const std::optional<QString> &system);
    // The free models of a catalogue body, or other("OpenRouter sent a model
    // list in an unexpected format."). today is "yyyy-MM-dd".
    static ModelsOutcome parseCatalogue(const QByteArray &body, const QString &today);
    // Statistics of an endpoints body; nothing when it holds none.
    static std::optional<EndpointStats> parseStats(const QByteArray &body);
    // What a /key body says; nothing known when it is not the usual shape.
    static KeyInfo parseKeyInfo(const QByteArray &body);

    // Test seams; the defaults are the product's values and the product never
    // changes them.
    void setInactivityTimeoutMs(int ms) { m_inactivityTimeoutMs = ms; }
    int inactivityTimeoutMs() const { return m_inactivityTimeoutMs; }
    void setProbeDeadline(double seconds) { m_probeDeadline = seconds; }
    double probeDeadline() const { return m_probeDeadline; }

Q_SIGNALS:
    // A chat completion went out. Tolvi asks only free models, so each one
    // spends one of the account's free requests of the day: messages,
    // fallback attempts and probes alike.
    void freeRequestSent();
    // A completion was refused for the account's daily free limit; stated
    // holds whatever numbers the answer gave.
    void dailyLimitAnswered(const RateLimit &stated);
    // A completion or probe was answered 429, for whatever limit: the
    // account's numbers of the day are worth reading again.
    void rateLimitAnswered();

private:
    // base + path, or nothing when that is not a valid URL.
    std::optional<QUrl> urlFor(const QString &path) const;
    // The headers every call sends, and the call's inactivity time-out.
    QNetworkRequest requestFor(const QUrl &url, const QString &key, int timeoutMs) const;

    QString m_webOrigin;
    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_inactivityTimeoutMs = 120000;
    double m_probeDeadline = 6.0;
};
