#pragma once

#include "core/auth/CallbackRequest.h"
#include "core/service/ORError.h"
#include "core/util/Outcome.h"

#include <QList>
#include <QObject>
#include <functional>

class LoopbackConnection;
class QTcpServer;

// A one-shot HTTP listener for the browser's redirect at the end of the
// sign-in. It listens on 127.0.0.1 and, where the system has IPv6, on ::1
// with the same system-chosen port, and on no other address. The first
// request for "/callback" (or fail()) decides the outcome; the listener then
// stops, while connections already accepted are still answered. Other
// requests get a 404 answer and change nothing.
//
// The browser is told "You are signed in" only once the owner says so with
// answerCallbacks(true): a callback carrying a code is held open until then
// (at most the hold limit). A callback without a usable code is told at once
// that the sign-in was not completed.
class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    using Query = CallbackRequest::Query;
    using CallbackOutcome = Outcome<Query, ORError>;

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

    // Answers every held callback, and every later one, with the page for
    // this outcome of the sign-in. The first call counts.
    void answerCallbacks(bool signedIn);

    bool isListening() const;
    quint16 port() const { return m_port; }
    // The listening sockets, for inspection.
    QList<const QTcpServer *> listeners() const;
    // Accepted connections not yet closed.
    int openConnections() const;

    // How long a client may take to send its request line (5 s); tests
    // shorten it.
    void setRequestLineTimeoutMs(int ms) { m_requestLineTimeoutMs = ms; }
    // How long a callback waits for answerCallbacks() before it is told that
    // the sign-in did not go through (25 s).
    void setCallbackHoldMs(int ms) { m_callbackHoldMs = ms; }

private:
    bool listenOnBoth(QString *error);
    QTcpServer *makeListener();
    void acceptConnections(QTcpServer *listener);
    void onCallback(LoopbackConnection *connection, const Query &query);
    void finish(const CallbackOutcome &outcome);
    void deliver();
    void stopListening();

    QList<QTcpServer *> m_listeners;
    quint16 m_port = 0;
    int m_requestLineTimeoutMs = 5000;
    int m_callbackHoldMs = 25000;
    std::optional<bool> m_signedIn; // the browser's answer, once known
    std::function<void(const CallbackOutcome &)> m_waiter;
    std::optional<CallbackOutcome> m_pending;
    bool m_finished = false;
};
