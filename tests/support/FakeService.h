#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <optional>

class QTcpServer;
class QTcpSocket;

// A scriptable stand-in for the chat service: an HTTP/1.1 server on
// 127.0.0.1 with a system-chosen port, over real sockets, that sends what the
// real service sends. Every request is recorded.
namespace fake {

// One piece of a reply body, written to the socket in one write.
struct Step {
    QByteArray bytes;
    int delayMs = 0;      // wait this long before writing it
    bool held = false;    // wait until the test calls FakeService::release()
};

// Builders of event-stream lines in the service's shape.
namespace sse {
QByteArray comment();                                      // ": OPENROUTER PROCESSING\n\n"
QByteArray event(const QJsonObject &object);               // "data: {...}\n\n"
QJsonObject roleChunk(const QString &model);               // role "assistant", empty content
QJsonObject contentChunk(const QString &model, const QString &text);
QJsonObject finishChunk(const QString &model, const QString &reason = QStringLiteral("stop"));
QJsonObject usageChunk(const QString &model, bool emptyChoices = false);
QJsonObject errorChunk(const QString &model, const QJsonValue &code, const QString &message);
QByteArray done();                                         // "data: [DONE]\n\n"
} // namespace sse

struct StreamOptions {
    int comments = 1;          // keep-alive comments before the first event
    int eventDelayMs = 0;      // delay before each event
    int stallBeforeFirstMs = 0;
    bool holdEach = false;     // every event waits for release()
    bool crlf = false;         // CRLF line ends
    bool splitEvents = false;  // each event written in two pieces
    bool sendDone = true;      // end with "data: [DONE]"
    bool usageWithEmptyChoices = false;
};

struct Reply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QList<Step> body;          // written in order after the head
    int headDelayMs = 0;       // wait before sending the status line
    bool closeAfter = true;    // close the connection after the body (no Content-Length when streaming)

    static Reply json(int status, const QJsonValue &value);
    static Reply text(int status, const QByteArray &body, const QByteArray &contentType = "text/plain");
    // {"error":{"code":status,"message":...}} with an optional Retry-After.
    static Reply error(int status, const QString &message, const std::optional<QByteArray> &retryAfter = {},
                       const QJsonObject &metadata = {});
    // A full, realistic stream: comments, role chunk, one content chunk per
    // piece, finish chunk, usage chunk, [DONE].
    static Reply stream(const QString &model, const QStringList &pieces, const StreamOptions &options = {});
    // A stream made of exactly these events (each a JSON object, or raw lines
    // when given as bytes through rawStream).
    static Reply events(const QList<QJsonObject> &events, const StreamOptions &options = {});
    static Reply rawStream(const QList<QByteArray> &chunks, const StreamOptions &options = {});
};

struct Request {
    QByteArray method;
    QByteArray path;            // with the query
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    QJsonObject json() const;   // the body as an object (empty when not JSON)
    QString model() const;      // json()["model"]
};

class FakeService : public QObject
{
    Q_OBJECT
public:
    explicit FakeService(QObject *parent = nullptr);
    ~FakeService() override;

    bool start(quint16 port = 0);
    quint16 port() const;
    QString origin() const;     // "http://127.0.0.1:<port>"

    // Routing, first match wins: a queued one-time reply for (method, path),
    // then a standing reply for it; chat completions are matched on the
    // request's "model" the same way (queued, then standing), then the
    // standing reply for any model; then the fixtures below; else 404.
    void enqueue(const QByteArray &method, const QByteArray &path, const Reply &reply);
    void on(const QByteArray &method, const QByteArray &path, const Reply &reply);
    void enqueueChat(const QString &model, const Reply &reply);
    void onChat(const QString &model, const Reply &reply);
    void onAnyChat(const Reply &reply);

    // Fixtures served under /api/v1.
    void setCatalogue(const QJsonArray &data);                     // GET /models
    void setStats(const QString &modelId, const QJsonValue &body, int delayMs = 0); // GET /models/<id>/endpoints
    void setValidKeys(const QStringList &keys);                    // GET /key
    void setExchange(const QString &code, const QString &key);     // POST /auth/keys; also GET /auth redirects with ?code=<code>

    // Releases the oldest held step (of any connection). Returns false when
    // none is waiting.
    bool release();
    int heldSteps() const;

    QList<Request> requests() const;
    QList<Request> requests(const QByteArray &pathPrefix) const;
    int clientCloses() const; // connections the client closed before the reply ended

Q_SIGNALS:
    void requestReceived(const fake::Request &request);
    void stepHeld();
    void clientClosed();

private:
    struct Private;
    Private *d;
};

} // namespace fake
