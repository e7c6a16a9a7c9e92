#pragma once

#include "auth/CallbackRequest.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

// One accepted connection of the loopback listener: collects the request
// line, answers once and closes. A client that has not sent a whole request
// line in time, or within the size limit, gets the 404 answer. Deletes itself when the connection is
// gone.
class LoopbackConnection : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of socket.
    LoopbackConnection(QTcpSocket *socket, int requestLineTimeoutMs, QObject *parent);

Q_SIGNALS:
    // A request for "/callback" was answered; query holds its parameters.
    void callbackReceived(const CallbackRequest::Query &query);

private:
    void readHead();
    void answer();
    void endWriting();
    void drop();

    QTcpSocket *m_socket;
    QTimer m_deadline;
    QByteArray m_head;
    bool m_answered = false;
    bool m_writingEnded = false;
};
