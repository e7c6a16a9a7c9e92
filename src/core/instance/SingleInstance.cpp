#include "core/instance/SingleInstance.h"

#include "core/shell/ShellLog.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray showRequest = QByteArrayLiteral("show\n");
// Longest request line accepted; anything longer is not from Tolvi.
constexpr qint64 maxRequestBytes = 64;
// Connecting to and writing into a local socket only waits for the kernel,
// never for the other process; these bound a wedged system, not a slow peer.
constexpr int connectWaitMs = 2000;
constexpr int writeWaitMs = 2000;
// Instances starting together take turns; one that died holding the turn is
// recognised by its process id and does not block the next.
constexpr int turnWaitMs = 10000;

// Only processes of the same user may speak for or to Tolvi: in a shared
// temporary folder anyone could create a socket under our name.
bool peerIsSameUser(const QLocalSocket &socket)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    const int fd = int(socket.socketDescriptor());
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}

void drop(QLocalSocket *socket)
{
    socket->abort();
    socket->deleteLater();
}

} // namespace

QString SingleInstance::defaultServerName()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(QStringLiteral("tolvi.sock"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("tolvi-%1.sock").arg(::getuid()));
}

SingleInstance::SingleInstance(QObject *parent)
    : SingleInstance(defaultServerName(), parent)
{
}

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(serverName)
{
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryBecomePrimary()
{
    if (isListening())
        return true;
    QLockFile turn(m_serverName + QStringLiteral(".lock"));
    // Without the turn (a foreign file in a shared folder) go on alone rather
    // than not start at all.
    if (!turn.tryLock(turnWaitMs))
        qCInfo(lcShell) << "starting without the start-up turn:" << turn.error();
    if (askRunningInstanceToShow()) {
        qCInfo(lcShell) << "Tolvi is already running: asked it to show its window";
        return false;
    }
    if (listen())
        return true;
    // Nobody answered and yet the name is taken: the socket file is a
    // leftover of an instance that died without closing it.
    QLocalServer::removeServer(m_serverName);
    if (!listen())
        qCWarning(lcShell) << "a second start cannot reach this one: cannot listen at" << m_serverName << "-"
                           << m_listenError;
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::askRunningInstanceToShow()
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(connectWaitMs) || !peerIsSameUser(socket))
        return false;
    socket.write(showRequest);
    // A live instance accepted the connection: it owns the name, whether or
    // not the request could be delivered.
    if (socket.waitForBytesWritten(writeWaitMs))
        socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    delete m_server;
    m_server = new QLocalServer(this);
    if (!m_server->listen(m_serverName)) {
        m_listenError = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsSameUser(*socket)) {
            qCWarning(lcShell) << "refused a connection from another user's process";
            drop(socket);
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        QTimer::singleShot(m_idleClientMs, socket, [socket] { drop(socket); });
        // Data may have arrived together with the connection.
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            drop(socket);
        return;
    }
    const QByteArray line = socket->readLine(maxRequestBytes + 1);
    socket->disconnectFromServer();
    if (line == showRequest)
        Q_EMIT showRequested();
}
