#include "auth/LoopbackConnection.h"

#include "auth/LoopbackPages.h"

#include <QTcpSocket>

LoopbackConnection::LoopbackConnection(QTcpSocket *socket, int requestLineTimeoutMs, QObject *parent)
    : QObject(parent), m_socket(socket)
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
    if (!query)
        m_socket->write(LoopbackPages::notFound());
    else
        m_socket->write(CallbackRequest::carriesCode(*query) ? LoopbackPages::signedIn()
                                                              : LoopbackPages::notCompleted());
    m_deadline.start(); // same interval, now for the client to take the answer
    m_socket->disconnectFromHost();
    if (query)
        Q_EMIT callbackReceived(*query);
}

void LoopbackConnection::drop()
{
    m_deadline.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    deleteLater();
}
