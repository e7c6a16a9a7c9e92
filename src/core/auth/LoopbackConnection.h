#pragma once

#include "core/auth/CallbackRequest.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

// One accepted connection of the loopback listener: collects the request
// line, answers once and closes. A client that has not sent a whole request
// line in time, or within the size limit, gets the 404 answer. A callback
// that carries a code is held until answerCallback() says whether the
// sign-in went through, or until the hold limit passes (then the page says it
// did not). Deletes itself when the connection is gone.
class LoopbackConnection : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of socket.
    LoopbackConnection(QTcpSocket *socket, int requestLineTimeoutMs, int holdMs, QObject *parent);

    // Answers a held callback with the page for this outcome; does nothing
    // unless the connection is held.
    void answerCallback(bool signedIn);
    bool isHeld() const { return m_held; }
    // Whether the answer has been handed over and the connection closed.
    bool isDone() const { return m_done; }

Q_SIGNALS:
    // A request for "/callback" arrived; query holds its parameters. When it
    // carries a code, the connection is held when this is emitted.
    void callbackReceived(const CallbackRequest::Query &query);

private:
    void readHead();
    void judgeRequest();
    void respond(const QByteArray &response);
    void endWriting();
    void drop();

    QTcpSocket *m_socket;
    QTimer m_deadline;
    QByteArray m_head;
    int m_requestLineTimeoutMs;
    int m_holdMs;
    bool m_judged = false;
    bool m_held = false;
    bool m_answered = false;
    bool m_writingEnded = false;
    bool m_done = false;
};
