#include "core/auth/LoopbackServer.h"

#include "core/auth/LoopbackConnection.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Tries at finding a port that is free on both loopback addresses.
constexpr int portAttempts = 16;

} // namespace

LoopbackServer::LoopbackServer(QObject *parent)
    : QObject(parent)
{
}

LoopbackServer::~LoopbackServer()
{
    // The sign-in is over: a browser still waiting is told it did not go
    // through, and answers still on their way outlive the server, so that
    // the page reaches the browser instead of a reset connection.
    const auto connections = findChildren<LoopbackConnection *>(Qt::FindDirectChildrenOnly);
    for (LoopbackConnection *connection : connections) {
        connection->answerCallback(false);
        if (!connection->isDone())
            connection->setParent(nullptr);
    }
}

LoopbackServer::Started LoopbackServer::start()
{
    QString error;
    if (!listenOnBoth(&error))
        return { 0, error };
    return { m_port, {} };
}

bool LoopbackServer::listenOnBoth(QString *error)
{
    for (int attempt = 0; attempt < portAttempts; ++attempt) {
        QTcpServer *v4 = makeListener();
        if (!v4->listen(QHostAddress::LocalHost, 0)) {
            *error = v4->errorString();
            delete v4;
            return false;
        }
        QTcpServer *v6 = makeListener();
        if (v6->listen(QHostAddress::LocalHostIPv6, v4->serverPort())) {
            m_listeners = { v4, v6 };
            m_port = v4->serverPort();
            return true;
        }
        const bool portTaken = v6->serverError() == QAbstractSocket::AddressInUseError;
        delete v6;
        if (!portTaken || attempt + 1 == portAttempts) {
            // No IPv6 loopback here (or no port free on both): IPv4 alone
            // still serves, since browsers fall back to 127.0.0.1.
            m_listeners = { v4 };
            m_port = v4->serverPort();
            return true;
        }
        delete v4;
    }
    return false;
}

QTcpServer *LoopbackServer::makeListener()
{
    auto *listener = new QTcpServer(this);
    connect(listener, &QTcpServer::newConnection, this, [this, listener] { acceptConnections(listener); });
    connect(listener, &QTcpServer::acceptError, this, [this, listener] {
        finish(ORError::network(listener->errorString()));
        stopListening();
    });
    return listener;
}

void LoopbackServer::acceptConnections(QTcpServer *listener)
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        auto *connection = new LoopbackConnection(socket, m_requestLineTimeoutMs, m_callbackHoldMs, this);
        connect(connection, &LoopbackConnection::callbackReceived, this,
            [this, connection](const Query &query) { onCallback(connection, query); });
    }
}

void LoopbackServer::onCallback(LoopbackConnection *connection, const Query &query)
{
    finish(query);
    stopListening();
    if (m_signedIn)
        connection->answerCallback(*m_signedIn);
}

void LoopbackServer::answerCallbacks(bool signedIn)
{
    if (m_signedIn)
        return;
    m_signedIn = signedIn;
    const auto connections = findChildren<LoopbackConnection *>(Qt::FindDirectChildrenOnly);
    for (LoopbackConnection *connection : connections)
        connection->answerCallback(signedIn);
}

void LoopbackServer::waitForCallback(std::function<void(const CallbackOutcome &)> callback)
{
    m_waiter = std::move(callback);
    if (m_pending)
        deliver();
}

void LoopbackServer::fail(const ORError &error)
{
    finish(error);
    stopListening();
}

void LoopbackServer::finish(const CallbackOutcome &outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_pending = outcome;
    if (m_waiter)
        deliver();
}

void LoopbackServer::deliver()
{
    // Posted, so that the waiter never runs inside fail() or waitForCallback().
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_pending || !m_waiter)
                return;
            const CallbackOutcome outcome = *m_pending;
            m_pending.reset();
            auto waiter = std::exchange(m_waiter, {});
            waiter(outcome);
        },
        Qt::QueuedConnection);
}

void LoopbackServer::stopListening()
{
    for (QTcpServer *listener : std::as_const(m_listeners)) {
        // Connections the listener already took from the system are still
        // answered; it only stops taking new ones.
        acceptConnections(listener);
        listener->close();
    }
}

bool LoopbackServer::isListening() const
{
    for (const QTcpServer *listener : m_listeners) {
        if (listener->isListening())
            return true;
    }
    return false;
}

QList<const QTcpServer *> LoopbackServer::listeners() const
{
    return { m_listeners.cbegin(), m_listeners.cend() };
}

int LoopbackServer::openConnections() const
{
    return int(findChildren<LoopbackConnection *>(Qt::FindDirectChildrenOnly).size());
}
