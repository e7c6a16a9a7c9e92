#include "core/auth/LoopbackConnection.h"

#include "core/auth/LoopbackPages.h"

#include <QTcpSocket>
#include <sys/socket.h>

LoopbackConnection::LoopbackConnection(
    QTcpSocket *socket, int requestLineTimeoutMs, int holdMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_requestLineTimeoutMs(requestLineTimeoutMs)
    , m_holdMs(holdMs)
{
    m_socket->setParent(this);
    m_deadline.setSingleShot(true);
    // Before the request line the deadline answers 404; while a callback is
    // held it answers that the sign-in did not go through; after the answer
    // it ends a client that does not take it.
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_answered)
            drop();
        else if (m_held)
            answerCallback(false);
        else
            judgeRequest();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &LoopbackConnection::readHead);
    connect(m_socket, &QTcpSocket::readChannelFinished, this, [this] {
        if (!m_judged)
            judgeRequest();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &LoopbackConnection::drop);
    m_deadline.start(requestLineTimeoutMs);
    readHead();
}

void LoopbackConnection::readHead()
{
    if (m_judged) {
        m_socket->readAll(); // whatever follows the request line is not looked at
        return;
    }
    const qsizetype room = CallbackRequest::maxHeadBytes - m_head.size();
    m_head += m_socket->read(room);
    if (CallbackRequest::isComplete(m_head))
        judgeRequest();
}

void LoopbackConnection::judgeRequest()
{
    if (m_judged)
        return;
    m_judged = true;
    m_socket->readAll();
    const std::optional<CallbackRequest::Query> query = CallbackRequest::parse(m_head);
    if (!query) {
        respond(LoopbackPages::notFound());
        return;
    }
    if (CallbackRequest::carriesCode(*query)) {
        // Only the key exchange can tell whether this code signs the user in.
        m_held = true;
        m_deadline.start(m_holdMs);
    } else {
        respond(LoopbackPages::notCompleted());
    }
    Q_EMIT callbackReceived(*query);
}

void LoopbackConnection::answerCallback(bool signedIn)
{
    if (!m_held)
        return;
    m_held = false;
    respond(signedIn ? LoopbackPages::signedIn() : LoopbackPages::notCompleted());
}

void LoopbackConnection::respond(const QByteArray &response)
{
    if (m_answered)
        return;
    m_answered = true;
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(response);
    m_deadline.start(m_requestLineTimeoutMs); // now for the client to take the answer
    connect(m_socket, &QTcpSocket::bytesWritten, this, &LoopbackConnection::endWriting);
    m_socket->flush();
    endWriting();
}

void LoopbackConnection::endWriting()
{
    if (m_writingEnded || m_socket->bytesToWrite() > 0
        || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_writingEnded = true;
    // Half-close, then read and drop whatever the client still sends until
    // it closes. Closing with unread input would reset the connection, and a
    // reset can destroy the answer before the client has read it.
    ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
}

void LoopbackConnection::drop()
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    deleteLater();
}
