// The streamed chat completion over real loopback sockets against the fake
// service.
#include "FakeFixtures.h"
#include "FakeService.h"
#include "StreamHarness.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

using namespace harness;
using fake::Reply;
using fake::StreamOptions;
namespace sse = fake::sse;

Q_DECLARE_METATYPE(fake::Reply)
Q_DECLARE_METATYPE(ORError)

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject withFinishReason(QJsonObject chunk, const QString &reason)
{
    QJsonArray choices = chunk.value("choices").toArray();
    QJsonObject first = choices.first().toObject();
    first.insert("finish_reason", reason);
    choices.replace(0, first);
    chunk.insert("choices", choices);
    return chunk;
}

Reply heldStream(const QStringList &pieces, QList<int> holdAt)
{
    StreamOptions options;
    options.holdAt = std::move(holdAt);
    return Reply::stream(model, pieces, options);
}

// An error body of exactly size bytes that is valid JSON with message "M".
QByteArray paddedErrorBody(qsizetype size)
{
    const QByteArray head = R"({"error":{"code":500,"message":"M"},"pad":")";
    const QByteArray tail = "\"}";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

// A deadline that a stream which does answer meets even on a loaded machine:
// a loopback answer takes milliseconds.
constexpr double answeringDeadline = 0.5;

} // namespace

class ServiceStreamTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void deliversPiecesInOrder();
    void countsUserPerceivedCharacters_data();
    void countsUserPerceivedCharacters();
    void framingDoesNotMatter_data();
    void framingDoesNotMatter();
    void roleOnlyChunkIsTheFirstEvent();
    void doneOnlyStream();
    void nothingAfterDone();
    void lateFirstEventTimesOut();
    void stallAfterFirstEventIsFine();
    void inactivityFoldsToTimeout_data();
    void inactivityFoldsToTimeout();
    void stalledAfterTextKeepsTheText();
    void httpErrors_data();
    void httpErrors();
    void errorBodyIsCutAfter20000Bytes_data();
    void errorBodyIsCutAfter20000Bytes();
    void hugeErrorBodyIsDropped();
    void inStreamErrors_data();
    void inStreamErrors();
    void requestBody_data();
    void requestBody();
    void requestHeaders();
    void cancelMidStream();
    void cancelFromInsideOnToken();
    void cancelAfterFinishedChangesNothing();
    void racesDeliverExactlyOnce();
    void refusedConnectionIsNetwork();
    void badOriginFailsLater();

private:
    fake::FakeService *m_fake = nullptr;
    OpenRouterClient *m_client = nullptr;
};

void ServiceStreamTest::init()
{
    // A call must never read a reply that Qt has closed after aborting it.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^QIODevice::")));
    m_fake = new fake::FakeService;
    QVERIFY(m_fake->start());
    m_client = new OpenRouterClient(m_fake->origin());
}

void ServiceStreamTest::cleanup()
{
    delete m_client;
    delete m_fake;
}

void ServiceStreamTest::deliversPiecesInOrder()
{
    m_fake->onAnyChat(Reply::stream("vendor/served:free", { "Hel", "lo", " there." }));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->tokens, (QStringList{ "Hel", "lo", " there." }));
    const StreamOutcome &outcome = run->outcomes.first();
    QVERIFY(outcome.ok());
    QCOMPARE(outcome.value().chars, 12);
    QCOMPARE(outcome.value().modelUsed, std::optional<QString>("vendor/served:free"));
    QVERIFY(outcome.value().firstChunkAfter.has_value());
    QTRY_VERIFY(run->call.isNull());
    QCOMPARE(run->outcomes.size(), 1);
}

void ServiceStreamTest::countsUserPerceivedCharacters_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("chars");

    QTest::newRow("thumbs up with a skin tone") << QStringList{ QString::fromUtf8("👍🏽") } << 1;
    QTest::newRow("a flag") << QStringList{ QString::fromUtf8("🇫🇮") } << 1;
    QTest::newRow("e and a combining accent") << QStringList{ QString::fromUtf8("e\u0301") } << 1;
    QTest::newRow("family and text") << QStringList{ QString::fromUtf8("👨‍👩‍👧 ok"), "!" } << 5;
    QTest::newRow("CR LF is one") << QStringList{ "a\r\nb" } << 3;
    QTest::newRow("ascii") << QStringList{ "abc", "de" } << 5;
}

void ServiceStreamTest::countsUserPerceivedCharacters()
{
    QFETCH(QStringList, pieces);
    QFETCH(int, chars);
    m_fake->onAnyChat(Reply::stream(model, pieces));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    QCOMPARE(run->tokens, pieces);
    QCOMPARE(run->outcomes.first().value().chars, chars);
}

void ServiceStreamTest::framingDoesNotMatter_data()
{
    QTest::addColumn<Reply>("reply");

    const QStringList pieces{ "Hel", "lo", QString::fromUtf8(" wörld") };
    auto with = [&](auto set) {
        StreamOptions options;
        set(options);
        return Reply::stream(model, pieces, options);
    };
    QTest::newRow("plain") << with([](StreamOptions &) {});
    QTest::newRow("CRLF") << with([](StreamOptions &o) { o.crlf = true; });
    QTest::newRow("events split inside the JSON") << with([](StreamOptions &o) { o.splitEvents = true; });
    QTest::newRow("CRLF split between CR and LF") << with([](StreamOptions &o) {
        o.crlf = true;
        o.splitLineEnds = true;
    });
    QTest::newRow("keep-alive comments everywhere") << with([](StreamOptions &o) {
        o.comments = 3;
        o.commentsBetween = true;
    });
    QTest::newRow("no [DONE]") << with([](StreamOptions &o) { o.sendDone = false; });

    auto content = [](const QString &text) { return compact(sse::contentChunk(model, text)); };
    using Chunks = QList<QByteArray>;
    QTest::newRow("event names, ids, retry hints, bare CR")
        << Reply::rawStream(Chunks{ "event: message\rid: 1\r\nretry: 10\n\n",
               "data:" + content("Hel") + "\r\r", ": comment\ndata: \t" + content("lo") + " \t\n",
               "data: " + content(QString::fromUtf8(" wörld")) + "\n\ndata: [DONE]\n\n" });
    QTest::newRow("last line without a terminator")
        << Reply::rawStream(Chunks{ "data: " + content("Hel") + "\n", "data: " + content("lo") + "\n",
               "data: " + content(QString::fromUtf8(" wörld")) });
    const QByteArray utf8 = "data: " + content(QString::fromUtf8(" wörld")) + "\n";
    const qsizetype inside = utf8.indexOf("\xc3") + 1;
    QTest::newRow("a UTF-8 character split across writes") << Reply::rawStream(Chunks{
        "data: " + content("Hel") + "\ndata: " + content("lo") + "\n", utf8.left(inside), utf8.mid(inside) });
}

void ServiceStreamTest::framingDoesNotMatter()
{
    QFETCH(Reply, reply);
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    QCOMPARE(run->tokens, (QStringList{ "Hel", "lo", QString::fromUtf8(" wörld") }));
    QCOMPARE(run->outcomes.first().value().chars, 11);
}

// The role chunk carries no text but is the first event: once it is in, the
// deadline no longer matters, however long the text takes.
void ServiceStreamTest::roleOnlyChunkIsTheFirstEvent()
{
    m_fake->onAnyChat(heldStream({ "late" }, { 1 }));
    auto run = stream(*m_client, answeringDeadline);
    QVERIFY(testsupport::waitFor([&] { return m_fake->heldSteps() == 1; }));
    QTest::qWait(int(answeringDeadline * 10000)); // ten times the deadline
    QVERIFY(run->outcomes.isEmpty());
    QVERIFY(m_fake->release());
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    QCOMPARE(run->tokens, QStringList{ "late" });
    QVERIFY(run->outcomes.first().value().firstChunkAfter.has_value());
}

void ServiceStreamTest::doneOnlyStream()
{
    m_fake->onAnyChat(Reply::rawStream({ "data: [DONE]\n\n" }));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    const StreamResult result = run->outcomes.first().value();
    QCOMPARE(result.chars, 0);
    QCOMPARE(result.firstChunkAfter, std::nullopt);
    QCOMPARE(result.modelUsed, std::nullopt);
}

void ServiceStreamTest::nothingAfterDone()
{
    // [DONE] sits between two events in the same write.
    m_fake->onAnyChat(Reply::rawStream({ sse::event(sse::contentChunk(model, "a")) + sse::done()
        + sse::event(sse::contentChunk("vendor/other", "b")) }));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->tokens, QStringList{ "a" });
    QCOMPARE(run->outcomes.first().value().modelUsed, std::optional<QString>(model));
}

// Keep-alive comments arrive at once, the first event is held past the
// deadline: a timeout, even though the stream would have been healthy.
void ServiceStreamTest::lateFirstEventTimesOut()
{
    m_fake->onAnyChat(heldStream({ "never seen" }, { 0 }));
    auto run = stream(*m_client, 0.05);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->outcomes.first().error(), ORError::timeout());
    QTRY_COMPARE(m_fake->clientCloses(), 1);
    m_fake->releaseAll();
    QTRY_VERIFY(run->call.isNull());
    QVERIFY(run->tokens.isEmpty());
    QCOMPARE(run->outcomes.size(), 1);
}

void ServiceStreamTest::stallAfterFirstEventIsFine()
{
    m_fake->onAnyChat(heldStream({ "one", "two" }, { 2 }));
    auto run = stream(*m_client, answeringDeadline);
    QVERIFY(testsupport::waitFor([&] { return run->tokens.size() == 1; }));
    QTest::qWait(int(answeringDeadline * 10000)); // ten times the deadline
    QVERIFY(run->outcomes.isEmpty());
    QVERIFY(m_fake->release());
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    QCOMPARE(run->tokens, (QStringList{ "one", "two" }));
}

// Qt reports its transfer time-out as a cancellation: it must read as a
// time-out, and the text already delivered stays delivered. An error body
// cut short by it is judged by what arrived. The fake sends the first part
// at once; the time-out leaves a loaded machine ample time to read it.
void ServiceStreamTest::inactivityFoldsToTimeout_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<ORError>("expected");
    QTest::addColumn<QStringList>("tokens");
    QTest::newRow("stream stalls before any text")
        << heldStream({ "Hel", "lo" }, { 1 }) << ORError::timeout() << QStringList{};
    Reply stalledError = Reply::text(500, "Upstream ");
    stalledError.headers = { { "Content-Length", "100" } };
    stalledError.body.append(fake::Step{ "never sent", 0, true });
    QTest::newRow("error body stalls") << stalledError << ORError::server(500, "Upstream ") << QStringList{};
}

void ServiceStreamTest::inactivityFoldsToTimeout()
{
    QFETCH(Reply, reply);
    QFETCH(ORError, expected);
    QFETCH(QStringList, tokens);
    m_client->setInactivityTimeoutMs(1000);
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->outcomes.first().error(), expected);
    QCOMPARE(run->tokens, tokens);
}

// The text that came before a transfer broke is the person's: the stream
// ends as a result with neither a finish reason nor "[DONE]", which says it
// was cut.
void ServiceStreamTest::stalledAfterTextKeepsTheText()
{
    m_client->setInactivityTimeoutMs(1000);
    m_fake->onAnyChat(heldStream({ "Hel", "lo" }, { 2 }));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    const StreamResult &result = run->outcomes.first().value();
    QCOMPARE(run->tokens, QStringList{ "Hel" });
    QCOMPARE(result.chars, 3);
    QCOMPARE(result.finishReason, std::nullopt);
    QVERIFY(!result.sawDone);
}

void ServiceStreamTest::httpErrors_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<ORError>("expected");
    QTest::addColumn<QString>("message");

    QTest::newRow("401") << Reply::error(401, "User not found.") << ORError::unauthorized("User not found.")
                         << "Your OpenRouter key isn't valid any more.";
    const QByteArray eventLike = "data: {\"choices\":[{\"delta\":{\"content\":\"x\"}}]}\n\n";
    QTest::newRow("401 body is never read as events")
        << Reply::text(401, eventLike, "text/event-stream")
        << ORError::unauthorized(QString::fromUtf8(eventLike)) << "Your OpenRouter key isn't valid any more.";
    QTest::newRow("429 Retry-After 7.9") << Reply::error(429, "Provider returned error", QByteArray("7.9"))
                                         << ORError::rateLimited("Provider returned error", 7.9, false)
                                         << "That model is busy right now (try again in about 7 seconds).";
    Reply lowerCase = Reply::error(429, "busy");
    lowerCase.headers.append(qMakePair(QByteArray("retry-after"), QByteArray(" 3\t")));
    QTest::newRow("429 retry-after in lower case")
        << lowerCase << ORError::rateLimited("busy", 3.0, false)
        << "That model is busy right now (try again in about 3 seconds).";
    QTest::newRow("429 daily wins over Retry-After")
        << Reply::error(429, "Rate limit exceeded: free-models-per-day", QByteArray("60"))
        << ORError::rateLimited("Rate limit exceeded: free-models-per-day", 60.0, true)
        << "Daily free limit reached; it resets at midnight UTC, or add credits at openrouter.ai.";
    QTest::newRow("429 Retry-After beyond 64 bits counts as absent")
        << Reply::error(429, "busy", QByteArray("1e300")) << ORError::rateLimited("busy", std::nullopt, false)
        << "That model is busy right now.";
    QTest::newRow("429 Retry-After as a date")
        << Reply::error(429, "busy", QByteArray("Wed, 21 Oct 2015 07:28:00 GMT"))
        << ORError::rateLimited("busy", std::nullopt, false) << "That model is busy right now.";
    QTest::newRow("404 with raw metadata")
        << Reply::error(404, "No endpoints found for vendor/small-model:free.", {}, { { "raw", "gone" } })
        << ORError::modelUnavailable("No endpoints found for vendor/small-model:free. [gone]")
        << "That model is no longer available.";
    QTest::newRow("503 empty body") << Reply::text(503, "") << ORError::server(503, "")
                                    << "The model's provider had a problem (status 503).";
    QTest::newRow("403 html") << Reply::text(403, "<html>Forbidden</html>", "text/html")
                              << ORError::badRequest(403, "<html>Forbidden</html>")
                              << "OpenRouter couldn't process the request (status 403).";
    QTest::newRow("408") << Reply::error(408, "Operation timed out.") << ORError::timeout()
                         << "The model took too long to start answering.";
}

void ServiceStreamTest::httpErrors()
{
    QFETCH(Reply, reply);
    QFETCH(ORError, expected);
    QFETCH(QString, message);
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->tokens.isEmpty());
    QCOMPARE(run->outcomes.first().error(), expected);
    QCOMPARE(run->outcomes.first().error().message(), message);
}

// A JSON body of 20,001 bytes is read whole; one more byte and it is cut, so
// it no longer parses and only its first 400 bytes remain.
void ServiceStreamTest::errorBodyIsCutAfter20000Bytes_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("readWhole");
    QTest::newRow("20,000") << qsizetype(20000) << true;
    QTest::newRow("20,001") << qsizetype(20001) << true;
    QTest::newRow("20,002") << qsizetype(20002) << false;
}

void ServiceStreamTest::errorBodyIsCutAfter20000Bytes()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, readWhole);
    const QByteArray body = paddedErrorBody(size);
    QCOMPARE(body.size(), size);
    // Written in small pieces so that the cut falls between reads too.
    Reply reply = Reply::text(500, {}, "application/json");
    reply.body.clear();
    for (qsizetype at = 0; at < body.size(); at += 4096)
        reply.body.append(fake::Step{ body.mid(at, 4096) });
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    const QString text = readWhole ? QStringLiteral("M") : QString::fromUtf8(body.left(400));
    QCOMPARE(run->outcomes.first().error(), ORError::server(500, text));
}

// A megabyte error page: the client classifies it from its start and drops
// the connection without waiting for the rest (the last piece is held).
void ServiceStreamTest::hugeErrorBodyIsDropped()
{
    Reply reply = Reply::text(502, {}, "text/html");
    reply.body.clear();
    for (int i = 0; i < 64; ++i)
        reply.body.append(fake::Step{ QByteArray(16384, i == 0 ? '<' : 'x') });
    reply.body.append(fake::Step{ "</html>", 0, true });
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->outcomes.first().error(), ORError::server(502, QString(400, '<')));
    QTRY_COMPARE(m_fake->clientCloses(), 1);
}

void ServiceStreamTest::inStreamErrors_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<ORError>("expected");

    QTest::newRow("429 per-day") << Reply::streamError(
        model, { "Hi" }, 429, "Rate limit exceeded: free-models-per-day")
                                 << QStringList{ "Hi" }
                                 << ORError::rateLimited(
                                        "Rate limit exceeded: free-models-per-day", std::nullopt, true);
    QTest::newRow("code as text") << Reply::streamError(
        model, {}, "server_error", "Provider disconnected unexpectedly")
                                  << QStringList{}
                                  << ORError::server(500, "Provider disconnected unexpectedly");
    QTest::newRow("502 then [DONE]") << Reply::streamError(
        model, { "a", "b" }, 502, "Provider returned error", {})
                                     << QStringList{ "a", "b" }
                                     << ORError::server(502, "Provider returned error");
    QTest::newRow("finish_reason error without an error object")
        << Reply::events(
               { sse::roleChunk(model), withFinishReason(sse::contentChunk(model, "partial"), "error"),
                   sse::contentChunk(model, "never") })
        << QStringList{ "partial" } << ORError::server(502, "The model reported finish_reason \"error\".");
    QTest::newRow("other finish reasons go on") << Reply::events(
        { withFinishReason(sse::contentChunk(model, "a"), "length"), sse::contentChunk(model, "b") })
                                                << QStringList{ "a", "b" } << ORError::other("no error");
    // The service now and then answers a streaming request with one JSON
    // body: an error, classified as its code says, or a whole answer.
    QTest::newRow("an error body on a 200") << fake::replies::errorBodyOn200(502) << QStringList{}
                                            << ORError::server(502, "Provider returned error");
    QTest::newRow("a whole answer in one body") << Reply::json(200,
        QJsonObject{ { "model", model }, { "object", "chat.completion" },
            { "choices",
                QJsonArray{ QJsonObject{ { "index", 0 },
                    { "message", QJsonObject{ { "role", "assistant" }, { "content", "Whole." } } },
                    { "finish_reason", "stop" } } } } })
                                                << QStringList{ "Whole." } << ORError::other("no error");
}

void ServiceStreamTest::inStreamErrors()
{
    QFETCH(Reply, reply);
    QFETCH(QStringList, tokens);
    QFETCH(ORError, expected);
    m_fake->onAnyChat(reply);
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->tokens, tokens);
    if (expected == ORError::other("no error"))
        QVERIFY(run->outcomes.first().ok());
    else
        QCOMPARE(run->outcomes.first().error(), expected);
}

void ServiceStreamTest::requestBody_data()
{
    QTest::addColumn<QList<APIMessage>>("messages");
    QTest::addColumn<std::optional<QString>>("system");
    QTest::addColumn<std::optional<int>>("maxTokens");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no max_tokens, blank system")
        << QList<APIMessage>{ { "user", "Hi", {} } } << std::optional<QString>(" \n ") << std::optional<int>()
        << QByteArray(
               R"({"model":"vendor/small-model:free","stream":true,"messages":[{"role":"user","content":"Hi"}]})");
    QTest::newRow("max_tokens and system")
        << QList<APIMessage>{ { "user", "Hi", {} }, { "assistant", "Yo", {} } }
        << std::optional<QString>("Be brief.") << std::optional<int>(1)
        << QByteArray(R"({"model":"vendor/small-model:free","stream":true,"max_tokens":1,"messages":[
             {"role":"system","content":"Be brief."},{"role":"user","content":"Hi"},{"role":"assistant","content":"Yo"}]})");
    QTest::newRow("image only")
        << QList<APIMessage>{ { "user", "", { "data:image/jpeg;base64,/9j/AA==" } } }
        << std::optional<QString>() << std::optional<int>()
        << QByteArray(
               R"({"model":"vendor/small-model:free","stream":true,"messages":[{"role":"user","content":[
             {"type":"image_url","image_url":{"url":"data:image/jpeg;base64,/9j/AA=="}}]}]})");
}

void ServiceStreamTest::requestBody()
{
    QFETCH(QList<APIMessage>, messages);
    QFETCH(std::optional<QString>, system);
    QFETCH(std::optional<int>, maxTokens);
    QFETCH(QByteArray, expected);
    auto run = stream(*m_client, 30.0, messages, system, maxTokens);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(m_fake->chatRequests().size(), 1);
    QCOMPARE(m_fake->chatRequests().first().json(), QJsonDocument::fromJson(expected).object());
}

void ServiceStreamTest::requestHeaders()
{
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    const fake::Request request = m_fake->requests().first();
    QCOMPARE(request.method, "POST");
    QCOMPARE(request.path, "/api/v1/chat/completions");
    QCOMPARE(request.header("Authorization"), "Bearer " + key.toUtf8());
    QCOMPARE(request.header("X-OpenRouter-Title"), "Tolvi");
    QCOMPARE(request.header("X-Title"), "Tolvi");
    QCOMPARE(request.header("Content-Type"), "application/json");
}

void ServiceStreamTest::cancelMidStream()
{
    m_fake->onAnyChat(heldStream({ "Hel", "lo" }, { 2 }));
    auto run = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return run->tokens.size() == 1 && m_fake->heldSteps() == 1; }));
    run->call->cancel();
    QTRY_COMPARE(m_fake->clientCloses(), 1);
    m_fake->releaseAll();
    QTRY_VERIFY(run->call.isNull());
    QCOMPARE(run->tokens, QStringList{ "Hel" });
    QVERIFY(run->outcomes.isEmpty());
}

// All events arrive in one write; cancelling from the first token stops the
// rest of that write from being delivered.
void ServiceStreamTest::cancelFromInsideOnToken()
{
    QByteArray all;
    for (const char *piece : { "one", "two", "three" })
        all += sse::event(sse::contentChunk(model, piece));
    m_fake->onAnyChat(Reply::rawStream({ all + sse::done() }));
    auto run = stream(*m_client);
    run->onEachToken = [](StreamRun &r) { r.call->cancel(); };
    QVERIFY(testsupport::waitForDeletion(run->call));
    QCOMPARE(run->tokens, QStringList{ "one" });
    QVERIFY(run->outcomes.isEmpty());
}

void ServiceStreamTest::cancelAfterFinishedChangesNothing()
{
    auto run = stream(*m_client);
    QObject::connect(run->call, &StreamCall::finished, run->call, [call = run->call] { call->cancel(); });
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QVERIFY(run->outcomes.first().ok());
    QTRY_VERIFY(run->call.isNull());
    QCOMPARE(run->outcomes.size(), 1);
}

// The reply's end, the first-event deadline and a cancel meet in every order
// the event loop allows: a call that had not reported when it was cancelled
// never does, and every other call reports exactly once.
void ServiceStreamTest::racesDeliverExactlyOnce()
{
    m_fake->onAnyChat(Reply::stream(model, { "a", "b" }));
    QList<std::pair<std::shared_ptr<StreamRun>, bool>> runs; // with: reported before its cancel
    for (int turns = 0; turns < 40; ++turns) {
        auto run = stream(*m_client, turns % 2 ? 0.0 : 0.001);
        for (int i = 0; i < turns % 20; ++i)
            QCoreApplication::processEvents();
        const bool reported = !run->outcomes.isEmpty();
        if (run->call)
            run->call->cancel();
        runs.append({ run, reported });
    }
    for (const auto &[run, reported] : runs) {
        QTRY_VERIFY(run->call.isNull());
        QCoreApplication::processEvents();
        QCOMPARE(run->outcomes.size(), reported ? 1 : 0);
        if (reported)
            QVERIFY(run->outcomes.first().ok() || run->outcomes.first().error() == ORError::timeout());
    }
}

void ServiceStreamTest::refusedConnectionIsNetwork()
{
    QTcpServer placeholder;
    QVERIFY(placeholder.listen(QHostAddress::LocalHost));
    const quint16 port = placeholder.serverPort();
    placeholder.close();
    OpenRouterClient client(QStringLiteral("http://127.0.0.1:%1").arg(port));
    auto run = stream(client);
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->outcomes.first().error().kind(), ORError::Kind::network);
    QVERIFY(!run->outcomes.first().error().details().isEmpty());
}

void ServiceStreamTest::badOriginFailsLater()
{
    OpenRouterClient client(QStringLiteral("http://exa mple"));
    auto run = stream(client);
    QVERIFY(run->outcomes.isEmpty());
    QVERIFY(testsupport::waitFor([&] { return !run->outcomes.isEmpty(); }));
    QCOMPARE(run->outcomes.first().error(), ORError::other("Bad URL: /chat/completions"));
}

QTEST_GUILESS_MAIN(ServiceStreamTest)
#include "test_service_stream.moc"
