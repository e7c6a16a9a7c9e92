#include "core/auth/OpenRouterAuth.h"

#include "core/auth/AuthLog.h"
#include "core/auth/KeyExchange.h"
#include "core/auth/PKCE.h"
#include "core/service/OpenRouterClient.h"
#include "core/service/ReplyTools.h"

#include <QDesktopServices>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace {

constexpr int verifierLength = 64;
constexpr int stateLength = 24;
constexpr int callbackHoldSlackMs = 5000;

QString queryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// Errors below 200 are the transport's own (connection, time-out, proxy);
// the others describe an HTTP answer that did arrive.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

OpenRouterAuth::OpenRouterAuth(OpenRouterClient &client, QObject *parent)
    : Operation(parent)
    , m_client(client)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_server)
            m_server->fail(ORError::signInTimeout());
    });
}

OpenRouterAuth::~OpenRouterAuth()
{
    ReplyTools::discard(m_reply, this);
}

QUrl OpenRouterAuth::signInUrl(
    const QString &webOrigin, const QString &callbackUrl, const QString &challenge, const QString &state)
{
    const QString query = QStringLiteral("callback_url=") + queryValue(callbackUrl)
        + QStringLiteral("&code_challenge=") + queryValue(challenge)
        + QStringLiteral("&code_challenge_method=S256&state=") + queryValue(state)
        + QStringLiteral("&key_label=Tolvi");
    return QUrl(webOrigin + QStringLiteral("/auth?") + query, QUrl::StrictMode);
}

void OpenRouterAuth::signIn()
{
    if (m_started || !canDeliver())
        return;
    m_started = true;
    m_clock.start();
    m_verifier = PKCE::randomString(verifierLength);
    m_state = PKCE::randomString(stateLength);

    m_server = new LoopbackServer(this);
    // The browser waits for the page while the code is exchanged; a little
    // longer than the exchange may take, so that it hears the real outcome.
    m_server->setCallbackHoldMs(m_exchangeTimeoutMs + callbackHoldSlackMs);
    const LoopbackServer::Started started = m_server->start();
    if (!started.ok()) {
        finish(ORError::other(QStringLiteral("Couldn't start the local sign-in listener: ") + started.error));
        return;
    }
    const QString callbackUrl
        = QStringLiteral("http://localhost:") + QString::number(started.port) + QStringLiteral("/callback");
    const QUrl url = signInUrl(m_client.webOrigin(), callbackUrl, PKCE::challenge(m_verifier), m_state);
    if (!url.isValid()) {
        finish(ORError::browserFailed());
        return;
    }
    m_step = "waiting for the browser";
    qCInfo(lcAuth) << "sign-in: listening on port" << started.port << "and opening the browser";
    m_timeout.start(m_timeoutMs);
    m_server->waitForCallback(
        [this](const LoopbackServer::CallbackOutcome &outcome) { onCallback(outcome); });
    if (!QDesktopServices::openUrl(url))
        finish(ORError::browserFailed());
}

void OpenRouterAuth::stopWork()
{
    if (m_started)
        qCInfo(lcAuth) << "sign-in cancelled after" << m_clock.elapsed() << "ms while" << m_step;
    endSteps(false);
}

void OpenRouterAuth::onCallback(const LoopbackServer::CallbackOutcome &outcome)
{
    if (!canDeliver())
        return;
    m_timeout.stop();
    if (!outcome.ok()) {
        finish(outcome.error());
        return;
    }
    if (const std::optional<ORError> refused = checkCallback(outcome.value())) {
        finish(*refused);
        return;
    }
    exchange(outcome.value().value(QStringLiteral("code")));
}

std::optional<ORError> OpenRouterAuth::checkCallback(const LoopbackServer::Query &query) const
{
    if (query.contains(QStringLiteral("error"))) {
        const QString reason = query.contains(QStringLiteral("error_description"))
            ? query.value(QStringLiteral("error_description"))
            : query.value(QStringLiteral("error"));
        return ORError::signInDenied(reason);
    }
    if (query.contains(QStringLiteral("state")) && query.value(QStringLiteral("state")) != m_state)
        return ORError::other(
            QStringLiteral("The sign-in response didn't match this request, so it was ignored."));
    if (query.value(QStringLiteral("code")).isEmpty())
        return ORError::other(QStringLiteral("OpenRouter didn't send back a sign-in code."));
    return std::nullopt;
}

void OpenRouterAuth::exchange(const QString &code)
{
    const QUrl url(m_client.apiBase() + QStringLiteral("/auth/keys"));
    if (!url.isValid()) {
        finish(ORError::other(QStringLiteral("Bad URL")));
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_exchangeTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    m_step = "exchanging the code";
    qCInfo(lcAuth) << "sign-in: the browser came back after" << m_clock.elapsed() << "ms;" << m_step;
    m_reply = m_client.network().post(request, KeyExchange::requestBody(code, m_verifier));
    connect(m_reply, &QNetworkReply::finished, this, &OpenRouterAuth::onExchangeFinished);
}

void OpenRouterAuth::onExchangeFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (!canDeliver())
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || isTransportFailure(reply->error())) {
        finish(ORError::wrap(reply->error(), reply->errorString(), false));
        return;
    }
    finish(KeyExchange::readAnswer(status.toInt(), reply->readAll()));
}

void OpenRouterAuth::finish(const SignInOutcome &outcome)
{
    if (!deliverLater([this, outcome] { Q_EMIT finished(outcome); }))
        return;
    if (outcome.ok()) {
        qCInfo(lcAuth) << "signed in after" << m_clock.elapsed() << "ms";
    } else {
        const ORError &error = outcome.error();
        const QString status = error.status() ? QStringLiteral("HTTP %1").arg(error.status()) : QString();
        qCWarning(lcAuth).noquote() << "sign-in failed after" << m_clock.elapsed() << "ms while" << m_step
                                    << "with" << error.kind() << status;
    }
    endSteps(outcome.ok());
}

void OpenRouterAuth::endSteps(bool signedIn)
{
    m_timeout.stop();
    if (m_server) {
        m_server->answerCallbacks(signedIn);
        m_server->fail(ORError::cancelled()); // only closes the port once decided
    }
    ReplyTools::discard(m_reply, this);
}
