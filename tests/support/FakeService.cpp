// The fake service's server and its connections: request parsing, and replies
// written step by step on timers so that nothing blocks the test's thread.
#include "FakeService.h"

#include "FakeServicePrivate.h"

#include <QDateTime>
#include <QHostAddress>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace fake {

namespace {

const qsizetype maxHead = 64 * 1024;

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 402:
        return "Payment Required";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

enum class Parse { Incomplete, Complete, Bad };

// Takes one request off the front of buffer when it is complete.
Parse parseRequest(QByteArray &buffer, Request &request)
{
    qsizetype end = buffer.indexOf("\r\n\r\n");
    qsizetype separator = 4;
    const qsizetype bareEnd = buffer.indexOf("\n\n");
    if (bareEnd >= 0 && (end < 0 || bareEnd < end)) {
        end = bareEnd;
        separator = 2;
    }
    if (end < 0)
        return buffer.size() > maxHead ? Parse::Bad : Parse::Incomplete;

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    if (first.size() != 3 || !first.at(2).startsWith("HTTP/"))
        return Parse::Bad;
    Request parsed;
    parsed.method = first.at(0).toUpper();
    parsed.path = first.at(1);
    if (parsed.path.startsWith("http://")) { // absolute form
        const qsizetype slash = parsed.path.indexOf('/', 7);
        parsed.path = slash < 0 ? QByteArray("/") : parsed.path.mid(slash);
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = lines.at(i).left(colon).trimmed().toLower();
        const QByteArray value = lines.at(i).mid(colon + 1).trimmed();
        QByteArray &slot = parsed.headers[name];
        slot = slot.isEmpty() ? value : slot + ", " + value;
    }
    qsizetype length = 0;
    if (parsed.headers.contains("content-length")) {
        bool ok = false;
        length = parsed.headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0)
            return Parse::Bad;
    }
    const qsizetype bodyStart = end + separator;
    if (buffer.size() < bodyStart + length)
        return Parse::Incomplete;
    parsed.body = buffer.mid(bodyStart, length);
    buffer.remove(0, bodyStart + length);
    request = parsed;
    return Parse::Complete;
}

} // namespace

// One client connection: reads requests, writes one reply at a time.
class FakeService::Connection
{
public:
    Connection(FakeService::Private *d, QTcpSocket *socket)
        : m_d(d)
        , m_socket(socket)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { advance(); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { readRequests(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { lost(); });
    }

    ~Connection()
    {
        m_timer.stop();
        m_socket->disconnect();
        m_socket->abort();
        m_socket->deleteLater();
    }

    void release()
    {
        m_released = true;
        advance();
    }

private:
    enum class Phase { Reading, Replying, Finished };

    void readRequests()
    {
        m_buffer += m_socket->readAll();
        while (m_phase == Phase::Reading && !m_dead) {
            Request request;
            const Parse parse = parseRequest(m_buffer, request);
            if (parse == Parse::Incomplete)
                return;
            if (parse == Parse::Bad) {
                startReply(Reply::text(400, "Bad request\n"));
                return;
            }
            request.received = QDateTime::currentDateTimeUtc();
            m_d->requests.append(request);
            Q_EMIT m_d->q->requestReceived(request);
            if (m_dead)
                return;
            startReply(m_d->route(request));
        }
    }

    void startReply(const Reply &reply)
    {
        m_reply = reply;
        m_phase = Phase::Replying;
        m_stage = -1;
        m_delayDone = false;
        m_released = false;
        advance();
    }

    // Runs the current stage (-1 is the head): its delay, its hold, its write.
    void advance()
    {
        if (m_dead || m_phase != Phase::Replying)
            return;
        if (m_stage == m_reply.body.size()) {
            finishReply();
            return;
        }
        const int delay = m_stage < 0 ? m_reply.headDelayMs : m_reply.body.at(m_stage).delayMs;
        if (delay > 0 && !m_delayDone) {
            m_delayDone = true;
            m_timer.start(delay);
            return;
        }
        const bool held = m_stage < 0 ? m_reply.holdHead : m_reply.body.at(m_stage).held;
        if (held && !m_released) {
            m_d->held.append(this);
            Q_EMIT m_d->q->stepHeld();
            return;
        }
        write(m_stage < 0 ? head() : m_reply.body.at(m_stage).bytes);
        if (m_dead)
            return;
        ++m_stage;
        m_delayDone = false;
        m_released = false;
        // A fresh turn of the event loop for each step, so steps go out as
        // separate writes.
        m_timer.start(0);
    }

    QByteArray head() const
    {
        QList<QPair<QByteArray, QByteArray>> headers = m_reply.headers;
        auto has = [&headers](const QByteArray &name) {
            for (const auto &header : headers)
                if (header.first.compare(name, Qt::CaseInsensitive) == 0)
                    return true;
            return false;
        };
        if (!m_reply.streaming && !has("Content-Length")) {
            qsizetype length = 0;
            for (const Step &step : m_reply.body)
                length += step.bytes.size();
            headers.append(qMakePair(QByteArray("Content-Length"), QByteArray::number(length)));
        }
        if (!has("Connection"))
            headers.append(qMakePair(QByteArray("Connection"),
                QByteArray(m_reply.closeAfter || m_reply.streaming ? "close" : "keep-alive")));
        if (!has("Content-Type") && !m_reply.body.isEmpty())
            headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
        if (!has("Date"))
            headers.append(qMakePair(QByteArray("Date"),
                QLocale::c()
                    .toString(
                        QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                    .toLatin1()));
        QByteArray bytes
            = "HTTP/1.1 " + QByteArray::number(m_reply.status) + ' ' + reasonOf(m_reply.status) + "\r\n";
        for (const auto &header : headers)
            bytes += header.first + ": " + header.second + "\r\n";
        return bytes + "\r\n";
    }

    void write(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        m_socket->write(bytes);
        if (!m_dead)
            m_socket->flush();
    }

    void finishReply()
    {
        m_phase = Phase::Finished;
        if (m_reply.closeAfter) {
            m_socket->disconnectFromHost();
            return;
        }
        if (m_reply.streaming)
            return; // left open on purpose: the client never sees the end
        m_phase = Phase::Reading;
        QTimer::singleShot(0, m_socket, [this] { readRequests(); });
    }

    void lost()
    {
        if (m_dead)
            return;
        m_dead = true;
        m_timer.stop();
        m_d->held.removeAll(this);
        if (m_phase == Phase::Replying) {
            ++m_d->clientCloses;
            Q_EMIT m_d->q->clientClosed();
        }
        // Deleted on a later turn: this may run inside one of our own writes.
        Private *d = m_d;
        QTimer::singleShot(0, d->q, [d, self = this] { d->removeConnection(self); });
    }

    FakeService::Private *m_d;
    QTcpSocket *m_socket;
    QTimer m_timer;
    QByteArray m_buffer;
    Phase m_phase = Phase::Reading;
    Reply m_reply;
    qsizetype m_stage = -1;
    bool m_delayDone = false;
    bool m_released = false;
    bool m_dead = false;
};

void FakeService::Private::removeConnection(Connection *connection)
{
    if (connections.removeOne(connection))
        delete connection;
}

FakeService::FakeService(QObject *parent)
    : QObject(parent)
    , d(new Private(this))
{
    qRegisterMetaType<fake::Request>();
}

FakeService::~FakeService()
{
    if (d->server)
        d->server->close();
    d->held.clear();
    const QList<Connection *> connections = d->connections;
    d->connections.clear();
    qDeleteAll(connections);
    delete d;
}

bool FakeService::start(quint16 port)
{
    if (d->server)
        return d->server->isListening();
    d->server = new QTcpServer(this);
    connect(d->server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = d->server->nextPendingConnection()) {
            socket->setParent(nullptr);
            d->connections.append(new Connection(d, socket));
        }
    });
    return d->server->listen(QHostAddress::LocalHost, port);
}

quint16 FakeService::port() const
{
    return d->server ? d->server->serverPort() : 0;
}

QString FakeService::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString FakeService::apiBase() const
{
    return origin() + QStringLiteral("/api/v1");
}

void FakeService::enqueue(const QByteArray &method, const QByteArray &path, const Reply &reply)
{
    d->queued[method.toUpper() + ' ' + path].append(reply);
}

void FakeService::on(const QByteArray &method, const QByteArray &path, const Reply &reply)
{
    d->standing.insert(method.toUpper() + ' ' + path, reply);
}

void FakeService::enqueueChat(const QString &model, const Reply &reply)
{
    d->queuedChat[model].append(reply);
}

void FakeService::onChat(const QString &model, const Reply &reply)
{
    d->standingChat.insert(model, reply);
}

void FakeService::onAnyChat(const Reply &reply)
{
    d->anyChat = reply;
}

void FakeService::setResponder(const Responder &responder)
{
    d->responder = responder;
}

void FakeService::setCatalogue(const QJsonArray &data)
{
    d->catalogue = data;
}

void FakeService::setStats(const QString &modelId, const QJsonValue &body, int delayMs)
{
    d->stats.insert(modelId, Private::Stats{ body, delayMs });
}

void FakeService::setValidKeys(const QStringList &keys)
{
    d->validKeys = keys;
}

void FakeService::setFreeTier(bool freeTier)
{
    d->freeTier = freeTier;
}

void FakeService::setDailyRequests(int limit, int usedElsewhere)
{
    d->daily = Private::Daily{ limit, usedElsewhere };
}

void FakeService::omitDailyRequests()
{
    d->daily.reset();
}

void FakeService::setExchange(const QString &code, const QString &key)
{
    d->exchangeCode = code;
    d->exchangeKey = key.isEmpty() ? freshKey() : key;
}

void FakeService::setAuthError(const QString &error, const QString &description)
{
    d->authError = error;
    d->authErrorDescription = description;
}

QString FakeService::exchangeKey() const
{
    return d->exchangeKey;
}

void FakeService::reset()
{
    d->responder = nullptr;
    d->queued.clear();
    d->standing.clear();
    d->queuedChat.clear();
    d->standingChat.clear();
    d->anyChat.reset();
    d->catalogue = QJsonArray();
    d->stats.clear();
    d->validKeys.reset();
    d->freeTier = true;
    d->daily = Private::Daily{};
    d->exchangeCode.clear();
    d->exchangeKey.clear();
    d->authError.clear();
    d->authErrorDescription.clear();
    d->lastChallenge.clear();
}

bool FakeService::release()
{
    if (d->held.isEmpty())
        return false;
    d->held.takeFirst()->release();
    return true;
}

int FakeService::releaseAll()
{
    const QList<Connection *> waiting = d->held;
    d->held.clear();
    for (Connection *connection : waiting)
        if (d->connections.contains(connection))
            connection->release();
    return int(waiting.size());
}

int FakeService::heldSteps() const
{
    return int(d->held.size());
}

QList<Request> FakeService::requests() const
{
    return d->requests;
}

QList<Request> FakeService::requests(const QByteArray &pathPrefix) const
{
    QList<Request> matching;
    for (const Request &request : d->requests)
        if (request.path.startsWith(pathPrefix))
            matching.append(request);
    return matching;
}

QList<Request> FakeService::chatRequests() const
{
    QList<Request> matching;
    for (const Request &request : d->requests)
        if (isChatRequest(request))
            matching.append(request);
    return matching;
}

void FakeService::clearRequests()
{
    d->requests.clear();
}

int FakeService::clientCloses() const
{
    return d->clientCloses;
}

int FakeService::openConnections() const
{
    return int(d->connections.size());
}

} // namespace fake
