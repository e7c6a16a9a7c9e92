#include "auth/LoopbackConnection.h"

#include "auth/LoopbackPages.h"

#include <QTcpSocket>
#include <sys/socket.h>

LoopbackConnection::LoopbackConnection(QTcpSocket *socket, int requestLineTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    m_deadline.setSingleShot(true);
    // Before the answer the deadline answers 404; after it, it ends a client
    // that does not take its answer.
    connect(&m_deadline, &QTimer::timeout, this, [this] { m_answered ? drop() : answer(); });
    connect(m_socket, &QTcpSocket::readyRead, this, &LoopbackConnection::readHead);
    connect(m_socket, &QTcpSocket::readChannelFinished, this, [this] {
        if (!m_answered)
            answer();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &LoopbackConnection::drop);
    m_deadline.start(requestLineTimeoutMs);
    readHead();
}

void LoopbackConnection::readHead()
{
    if (m_answered) {
        m_socket->readAll(); // whatever follows the request line is not looked at
        return;
    }
    const qsizetype room = CallbackRequest::maxHeadBytes - m_head.size();
    m_head += m_socket->read(room);
    if (CallbackRequest::isComplete(m_head))
        answer();
}

void LoopbackConnection::answer()
{
    if (m_answered)
        return;
    m_answered = true;
    m_socket->readAll();
    const std::optional<CallbackRequest::Query> query = CallbackRequest::parse(m_head);
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(!query                         ? LoopbackPages::notFound()
                : CallbackRequest::carriesCode(*query) ? LoopbackPages::signedIn()
                                                       : LoopbackPages::notCompleted());
    m_deadline.start(); // same interval, now for the client to take the answer
    connect(m_socket, &QTcpSocket::bytesWritten, this, &LoopbackConnection::endWriting);
    m_socket->flush();
    endWriting();
    if (query)
        Q_EMIT callbackReceived(*query);
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
    m_deadline.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    deleteLater();
}
