#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

// A scriptable stand-in for the chat service: an HTTP/1.1 server on
// 127.0.0.1 with a system-chosen port, over real sockets, that sends what the
// real service sends. Every request is recorded. It lives on the thread that
// created it and never blocks: delays are timers, held steps wait for
// release().
namespace fake {

// One piece of a reply body, written to the socket in one write (and flushed,
// so that pieces separated by a delay or a hold reach the client separately).
struct Step {
    QByteArray bytes;
    int delayMs = 0; // wait this long before writing it
    bool held = false; // then wait until the test calls FakeService::release()
};

// Builders of event-stream lines in the service's shape. Every chunk carries
// "id" ("gen-<created>-<20 letters>"), "provider", "model", "object"
// ("chat.completion.chunk") and "created"; pass the same id to make the
// chunks of one stream agree (an empty id draws a fresh one).
namespace sse {
QString newId(); // "gen-1780000000-AbCd..."
QByteArray comment(); // ": OPENROUTER PROCESSING\n\n"
QByteArray event(const QJsonObject &object); // "data: {...}\n\n"
QJsonObject roleChunk(const QString &model, const QString &id = {}); // role "assistant", empty content
QJsonObject contentChunk(const QString &model, const QString &text, const QString &id = {});
QJsonObject reasoningChunk(const QString &model, const QString &reasoning, const QString &id = {});
QJsonObject finishChunk(
    const QString &model, const QString &reason = QStringLiteral("stop"), const QString &id = {});
// The closing usage chunk: one choice with an empty delta and
// "finish_reason":"stop", or "choices":[] when emptyChoices.
QJsonObject usageChunk(const QString &model, bool emptyChoices = false, const QString &id = {});
// A top-level "error" (code a number or a string such as "server_error")
// beside "finish_reason":"error" in the first choice.
QJsonObject errorChunk(const QString &model, const QJsonValue &code, const QString &message,
    const QJsonObject &metadata = {}, const QString &id = {});
QByteArray done(); // "data: [DONE]\n\n"
} // namespace sse

struct StreamOptions {
    int comments = 1; // keep-alive comments before the first event
    bool commentsBetween = false; // one more keep-alive comment before every later event
    int eventDelayMs = 0; // delay before each event
    int stallBeforeFirstMs = 0; // delay before the first event (instead of eventDelayMs)
    bool holdEach = false; // every event (including [DONE]) waits for release()
    QList<int> holdAt; // these events wait for release(); 0 is the first event
    bool crlf = false; // CRLF line ends
    bool splitEvents = false; // each event written in two pieces, cut inside its JSON
    bool splitLineEnds = false; // each event cut inside its line ends (between CR and LF with crlf)
    int splitDelayMs = 20; // delay before the second piece of a split event
    bool holdSplit = false; // the second piece waits for release() instead
    bool sendDone = true; // end with "data: [DONE]"
    bool usageWithEmptyChoices = false;
    // The finish chunk's reason ("length", "content_filter", …); empty: no
    // finish chunk and no usage chunk, as when a transfer is cut.
    QString finishReason = QStringLiteral("stop");
    QStringList reasoning; // reasoning chunks before the content, one per piece
};

struct Reply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers; // replace defaults of the same name
    QList<Step> body; // written in order after the head
    int headDelayMs = 0; // wait before sending the status line
    bool holdHead = false; // the status line waits for release()
    // An event stream: no Content-Length, written step by step and ended by
    // closing the connection. Other replies carry a Content-Length.
    bool streaming = false;
    // Close the connection after the body. false keeps a non-streaming
    // connection alive for the next request, and leaves a stream open after
    // its last step (the client never sees its end).
    bool closeAfter = true;

    static Reply json(int status, const QJsonValue &value);
    static Reply text(int status, const QByteArray &body, const QByteArray &contentType = "text/plain");
    // A redirect (301, 302, 307, 308) to location, with a small HTML body as
    // servers send.
    static Reply redirect(int status, const QByteArray &location);
    // {"error":{"code":status,"message":...,"metadata":{...}},"user_id":"user_..."}
    // with an optional Retry-After header.
    static Reply error(int status, const QString &message, const std::optional<QByteArray> &retryAfter = {},
        const QJsonObject &metadata = {});
    // A full, realistic stream: comments, role chunk, the options' reasoning
    // chunks, one content chunk per piece, finish chunk, usage chunk (which
    // repeats "stop", as newer streams do), [DONE]. Events are counted from
    // 0 (the role chunk) for holdAt.
    static Reply stream(const QString &model, const QStringList &pieces, const StreamOptions &options = {});
    // Role chunk, the pieces, then an error event (no finish or usage chunk).
    // sendDone defaults to false here unless options say otherwise.
    static Reply streamError(const QString &model, const QStringList &pieces, const QJsonValue &code,
        const QString &message, StreamOptions options = noDone());
    // A stream made of exactly these events, framed as "data:" lines, after
    // the options' comments and before [DONE] when sendDone.
    static Reply events(const QList<QJsonObject> &events, const StreamOptions &options = {});
    // A stream of exactly these byte chunks, one step each (no framing, no
    // comments, no [DONE]); only the delays and holds of the options apply.
    static Reply rawStream(const QList<QByteArray> &chunks, const StreamOptions &options = {});

    static StreamOptions noDone()
    {
        StreamOptions o;
        o.sendDone = false;
        return o;
    }
};

struct Request {
    QByteArray method;
    QByteArray path; // with the query
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    QDateTime received; // UTC
    QByteArray pathOnly() const; // without the query
    QByteArray header(const QByteArray &name) const; // any case
    QJsonObject json() const; // the body as an object (empty when not JSON)
    QString model() const; // json()["model"]
    QString bearer() const; // the key after "Bearer " in Authorization
};

bool isChatRequest(const Request &request); // POST /api/v1/chat/completions
// The model a stream reports: the requested one, but a real free model for
// the router "openrouter/free" ("vendor/routed-model:free").
QString servedModel(const QString &requested);

class FakeService : public QObject
{
    Q_OBJECT
public:
    explicit FakeService(QObject *parent = nullptr);
    ~FakeService() override;

    bool start(quint16 port = 0);
    quint16 port() const;
    QString origin() const; // "http://127.0.0.1:<port>"
    QString apiBase() const; // origin() + "/api/v1"

    // Routing, first match wins: the responder (when set and it answers);
    // a queued one-time reply for (method, path), then a standing reply for
    // it (path with or without its query); chat completions (POST
    // /api/v1/chat/completions) are matched on the request's "model" the same
    // way (queued, then standing), then the standing reply for any model;
    // then the fixtures below; then a default "Hello there." stream for any
    // chat; else 404.
    void enqueue(const QByteArray &method, const QByteArray &path, const Reply &reply);
    void on(const QByteArray &method, const QByteArray &path, const Reply &reply);
    void enqueueChat(const QString &model, const Reply &reply);
    void onChat(const QString &model, const Reply &reply);
    void onAnyChat(const Reply &reply);
    using Responder = std::function<std::optional<Reply>(const Request &)>;
    void setResponder(const Responder &responder);

    // Fixtures. API calls are under /api/v1; the sign-in page /auth is on the
    // web origin. When setValidKeys was never called any non-empty key is
    // valid; the key is checked on GET /key and on default chat replies.
    void setCatalogue(const QJsonArray &data); // GET /models
    void setStats(
        const QString &modelId, const QJsonValue &body, int delayMs = 0); // GET /models/<id>/endpoints
    void setValidKeys(const QStringList &keys); // GET /key
    // What GET /key says of the account: "is_free_tier" true (the default,
    // an account that never bought credits) or false.
    void setFreeTier(bool freeTier);
    // Its "free_model_daily_requests": this limit (by default 50), as used
    // the chat completions (probes too) among the recorded requests that came
    // today (UTC) with the asking key plus usedElsewhere (the website's and
    // other apps'; by default 0), and remaining max(0, limit - used).
    void setDailyRequests(int limit, int usedElsewhere = 0);
    // Leaves "free_model_daily_requests" out, as older answers do.
    void omitDailyRequests();
    // POST /auth/keys turns this code into this key (an empty key: a fresh
    // "sk-or-v1-<64 hex>"); GET /auth redirects with ?code=<code>. When /auth
    // saw a code_challenge, the exchange also checks the verifier against it.
    void setExchange(const QString &code, const QString &key = {});
    // GET /auth redirects with ?error=<error>[&error_description=...] instead.
    void setAuthError(const QString &error, const QString &description = {});
    QString exchangeKey() const; // the key the exchange hands out

    // Forgets routes, the responder and fixtures; keeps recorded requests.
    void reset();

    // Releases the oldest held step (of any connection). Returns false when
    // none is waiting.
    bool release();
    int releaseAll(); // releases every step waiting now; returns how many
    int heldSteps() const;

    QList<Request> requests() const;
    QList<Request> requests(const QByteArray &pathPrefix) const;
    QList<Request> chatRequests() const; // POST /api/v1/chat/completions
    void clearRequests();
    int clientCloses() const; // connections the client closed before the reply ended
    int openConnections() const;

Q_SIGNALS:
    void requestReceived(const fake::Request &request);
    void stepHeld();
    void clientClosed();

private:
    struct Private;
    class Connection;
    friend class Connection;
    Private *d;
};

} // namespace fake

Q_DECLARE_METATYPE(fake::Request)
