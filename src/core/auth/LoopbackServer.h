#pragma once

#include "auth/CallbackRequest.h"
#include "service/ServiceTypes.h"

#include <QList>
#include <QObject>
#include <functional>

class QTcpServer;

// A one-shot HTTP listener for the browser's redirect at the end of the
// sign-in. It listens on 127.0.0.1 and, where the system has IPv6, on ::1
// with the same system-chosen port, and on no other address. The first
// request for "/callback" (or fail()) decides the outcome; the listener then
// stops, while connections already accepted are still answered. Other
// requests get a 404 answer and change nothing.
class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    using Query = CallbackRequest::Query;
    using CallbackOutcome = Outcome<Query>;

    struct Started {
        quint16 port = 0;
        QString error; // set when the listener could not start
        bool ok() const { return port != 0; }
    };

    explicit LoopbackServer(QObject *parent = nullptr);
    ~LoopbackServer() override;

    // Starts listening. Call once.
    Started start();

    // Delivers the outcome once it is decided (at once if it already was),
    // always from the event loop, never from inside this call. Call once.
    void waitForCallback(std::function<void(const CallbackOutcome &)> callback);

    // Decides the outcome as error unless it was decided, and stops
    // listening. Safe to call any number of times.
    void fail(const ORError &error);

    bool isListening() const;
    quint16 port() const { return m_port; }
    // The listening sockets, for inspection.
    QList<const QTcpServer *> listeners() const;
    // Accepted connections not yet closed.
    int openConnections() const;

    // How long a client may take to send its request line (5 s); tests
    // shorten it.
    void setRequestLineTimeoutMs(int ms) { m_requestLineTimeoutMs = ms; }

private:
    bool listenOnBoth(QString *error);
    QTcpServer *makeListener();
    void acceptConnections(QTcpServer *listener);
    void finish(const CallbackOutcome &outcome);
    void deliver();
    void stopListening();

    QList<QTcpServer *> m_listeners;
    quint16 m_port = 0;
    int m_requestLineTimeoutMs = 5000;
    std::function<void(const CallbackOutcome &)> m_waiter;
    std::optional<CallbackOutcome> m_pending;
    bool m_finished = false;
};
