#pragma once

#include "core/auth/LoopbackServer.h"
#include "core/service/ORError.h"
#include "core/util/Operation.h"
#include "core/util/Outcome.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class OpenRouterClient;
class QNetworkReply;

using SignInOutcome = Outcome<QString, ORError>;

// One browser sign-in attempt with PKCE, an Operation: a loopback listener
// for the redirect, the service's sign-in page in the user's browser, and
// the exchange of the returned code for an API key. Lives on the main
// thread; signIn() starts it, finished() reports the key or the ORError.
// cancel() closes the local port and aborts the exchange, silently.
class OpenRouterAuth : public Operation
{
    Q_OBJECT
public:
    explicit OpenRouterAuth(OpenRouterClient &client, QObject *parent = nullptr);
    ~OpenRouterAuth() override;

    // Starts the attempt. Call once.
    void signIn();

    // The service's sign-in page for this callback, challenge and state.
    static QUrl signInUrl(
        const QString &webOrigin, const QString &callbackUrl, const QString &challenge, const QString &state);

    // Test seams; the defaults are the product's values and the product never
    // changes them.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    void setExchangeTimeoutMs(int ms) { m_exchangeTimeoutMs = ms; }

Q_SIGNALS:
    void finished(const SignInOutcome &outcome);

protected:
    void stopWork() override;

private:
    void onCallback(const LoopbackServer::CallbackOutcome &outcome);
    std::optional<ORError> checkCallback(const LoopbackServer::Query &query) const;
    void exchange(const QString &code);
    void onExchangeFinished();
    void finish(const SignInOutcome &outcome);
    // Closes the port (a browser still waiting hears the outcome) and ends
    // the exchange.
    void endSteps(bool signedIn);

    OpenRouterClient &m_client;
    LoopbackServer *m_server = nullptr;
    QTimer m_timeout;
    QPointer<QNetworkReply> m_reply;
    QString m_verifier;
    QString m_state;
    int m_timeoutMs = 180000;
    int m_exchangeTimeoutMs = 20000;
    bool m_started = false;
    QElapsedTimer m_clock;
    const char *m_step = "starting the listener"; // for the log
};
