// The fake must send what the real service sends, and its scripting (holds,
// split writes, fixtures, the stand-alone program) must do what tests rely on.
#include "FakeFixtures.h"
#include "FakeService.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace fake;

namespace {

// A client over a raw socket that keeps every byte it receives.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void send(const QByteArray &bytes)
    {
        QVERIFY(testsupport::waitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }));
        socket.write(bytes);
        socket.flush();
    }

    bool waitClosed()
    {
        return testsupport::waitFor([this] { return closed; });
    }
    QByteArray head() const { return received.left(received.indexOf("\r\n\r\n")); }
    QByteArray body() const { return received.mid(received.indexOf("\r\n\r\n") + 4); }

    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};

QByteArray chatRequest(const QString &model, const QByteArray &key = "sk-or-v1-test")
{
    const QByteArray body
        = QJsonDocument(QJsonObject{ { "model", model }, { "stream", true } }).toJson(QJsonDocument::Compact);
    return "POST /api/v1/chat/completions HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + key
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

// The "data:" payloads of an event-stream body, in order.
QList<QByteArray> dataLines(QByteArray body)
{
    body.replace("\r\n", "\n");
    QList<QByteArray> payloads;
    for (const QByteArray &line : body.split('\n'))
        if (line.startsWith("data: "))
            payloads.append(line.mid(6));
    return payloads;
}

struct Fetched {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &pair : headers)
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
                return pair.second;
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

} // namespace

class TestFakeService : public QObject
{
    Q_OBJECT

private:
    Fetched fetch(
        const QByteArray &verb, const QString &url, const QByteArray &body = {}, const QByteArray &key = {})
    {
        QNetworkRequest request{ QUrl(url) };
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (!key.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + key);
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, verb, body));
        if (!testsupport::waitFor([&reply] { return reply->isFinished(); }))
            return {};
        return Fetched{ reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeaderPairs() };
    }

    QNetworkAccessManager m_network;

private Q_SLOTS:
    void defaultStreamHasTheServiceShape_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("reported");
        QTest::newRow("named model") << "vendor/small-model:free"
                                     << "vendor/small-model:free";
        QTest::newRow("router") << "openrouter/free"
                                << "vendor/routed-model:free";
    }

    void defaultStreamHasTheServiceShape()
    {
        QFETCH(QString, requested);
        QFETCH(QString, reported);
        FakeService service;
        QVERIFY(service.start());
        RawClient client(service.port());
        client.send(chatRequest(requested));
        QVERIFY(client.waitClosed());

        QVERIFY(client.received.startsWith("HTTP/1.1 200 "));
        QVERIFY(client.head().toLower().contains("\r\ncontent-type: text/event-stream"));
        QVERIFY(!client.head().toLower().contains("content-length"));
        QVERIFY(client.body().startsWith(": OPENROUTER PROCESSING\n\ndata: "));
        QVERIFY(client.body().endsWith("\n\ndata: [DONE]\n\n"));

        const QList<QByteArray> payloads = dataLines(client.body());
        QCOMPARE(payloads.size(), 6); // role, two pieces, finish, usage, [DONE]
        QString text;
        QStringList finishes;
        for (const QByteArray &payload : payloads.mid(0, 5)) {
            const QJsonObject chunk = QJsonDocument::fromJson(payload).object();
            QVERIFY(chunk.value("id").toString().startsWith("gen-"));
            QCOMPARE(chunk.value("id"), QJsonDocument::fromJson(payloads.first()).object().value("id"));
            QCOMPARE(chunk.value("object").toString(), "chat.completion.chunk");
            QVERIFY(chunk.value("created").isDouble());
            QVERIFY(chunk.value("provider").isString());
            QCOMPARE(chunk.value("model").toString(), reported);
            const QJsonObject choice = chunk.value("choices").toArray().first().toObject();
            text += choice.value("delta").toObject().value("content").toString();
            finishes << choice.value("finish_reason").toString();
        }
        const QJsonObject first = QJsonDocument::fromJson(payloads.first()).object();
        const QJsonObject firstDelta = first.value("choices")[0].toObject().value("delta").toObject();
        QCOMPARE(firstDelta.value("role").toString(), "assistant");
        QCOMPARE(firstDelta.value("content").toString(), "");
        QCOMPARE(text, "Hello there.");
        QCOMPARE(finishes, QStringList({ "", "", "", "stop", "stop" }));
        QVERIFY(QJsonDocument::fromJson(payloads.at(4)).object().value("usage").isObject());

        const QList<Request> recorded = service.chatRequests();
        QCOMPARE(recorded.size(), 1);
        QCOMPARE(recorded.first().model(), requested);
        QCOMPARE(recorded.first().headers.value("authorization"), "Bearer sk-or-v1-test");
        QCOMPARE(recorded.first().bearer(), "sk-or-v1-test");
    }

    void requestArrivingInPiecesIsReadWhole()
    {
        FakeService service;
        QVERIFY(service.start());
        QSignalSpy received(&service, &FakeService::requestReceived);
        RawClient client(service.port());
        const QByteArray request = chatRequest("vendor/a:free");
        const qsizetype cuts[] = { 10, request.indexOf("\r\n\r\n") + 2, request.size() - 5 };
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            client.send(request.mid(from, cut - from));
            QTest::qWait(30); // lets the fake read each piece on its own; correctness does not depend on it
            from = cut;
        }
        QCOMPARE(received.count(), 0);
        client.send(request.mid(from));
        QVERIFY(client.waitClosed());
        QCOMPARE(received.count(), 1);
        QCOMPARE(service.requests().first().model(), "vendor/a:free");
        QCOMPARE(service.requests().first().header("Content-Type"), "application/json");
    }

    void heldStepsWaitForRelease()
    {
        FakeService service;
        QVERIFY(service.start());
        StreamOptions options;
        options.holdEach = true;
        service.onChat("vendor/a:free", Reply::stream("vendor/a:free", { "Hi" }, options));
        QSignalSpy held(&service, &FakeService::stepHeld);
        RawClient client(service.port());
        client.send(chatRequest("vendor/a:free"));

        int releases = 0;
        while (!client.closed) {
            QVERIFY(testsupport::waitFor([&] { return service.heldSteps() == 1 || client.closed; }));
            if (client.closed)
                break;
            // Nothing of the held event has gone out.
            QVERIFY(testsupport::waitFor([&] { return client.received.endsWith("\n\n"); }));
            QCOMPARE(dataLines(client.body()).size(), releases);
            QVERIFY(service.release());
            ++releases;
            QVERIFY(testsupport::waitFor([&] { return dataLines(client.body()).size() == releases; }));
        }
        QCOMPARE(releases, 5); // role, "Hi", finish, usage, [DONE]
        QCOMPARE(held.count(), 5);
        QVERIFY(!service.release());
        QCOMPARE(service.clientCloses(), 0);
    }

    void splitEventsArriveSplit_data()
    {
        QTest::addColumn<bool>("crlf");
        QTest::addColumn<bool>("splitLineEnds");
        QTest::addColumn<QByteArray>("firstPieceEnd");
        QTest::newRow("inside the JSON") << false << false << QByteArray();
        QTest::newRow("between line and blank line") << false << true << QByteArray("}\n");
        QTest::newRow("between CR and LF") << true << true << QByteArray("}\r");
    }

    void splitEventsArriveSplit()
    {
        QFETCH(bool, crlf);
        QFETCH(bool, splitLineEnds);
        QFETCH(QByteArray, firstPieceEnd);
        FakeService service;
        QVERIFY(service.start());
        StreamOptions options;
        options.crlf = crlf;
        options.splitEvents = !splitLineEnds;
        options.splitLineEnds = splitLineEnds;
        options.holdSplit = true;
        options.comments = 0;
        service.onAnyChat(Reply::stream("vendor/a:free", { "Hi" }, options));
        RawClient client(service.port());
        client.send(chatRequest("vendor/a:free"));

        QVERIFY(testsupport::waitFor([&] { return service.heldSteps() == 1; }));
        QVERIFY(testsupport::waitFor([&] { return client.body().startsWith("data: {"); }));
        const QByteArray firstPiece = client.body();
        if (firstPieceEnd.isEmpty())
            QVERIFY(!firstPiece.contains('\n') && !QJsonDocument::fromJson(firstPiece.mid(6)).isObject());
        else
            QVERIFY2(firstPiece.endsWith(firstPieceEnd), firstPiece.right(4).constData());

        while (service.releaseAll() > 0 || !client.closed)
            QVERIFY(testsupport::waitFor([&] { return service.heldSteps() > 0 || client.closed; }));
        const QList<QByteArray> payloads = dataLines(client.body());
        QCOMPARE(payloads.size(), 5);
        QCOMPARE(client.body().count("\r\n"), crlf ? client.body().count('\n') : 0);
        QVERIFY(QJsonDocument::fromJson(payloads.first()).isObject());
    }

    void streamVariants_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QByteArray>("lastPayload");
        QTest::newRow("no [DONE]") << 0 << QByteArray("usage");
        QTest::newRow("error with numeric code") << 1 << QByteArray("\"code\":502");
        QTest::newRow("error with string code") << 2 << QByteArray("\"code\":\"server_error\"");
        QTest::newRow("finish error, no object") << 3 << QByteArray("\"finish_reason\":\"error\"");
        QTest::newRow("usage with empty choices") << 4 << QByteArray("[DONE]");
    }

    void streamVariants()
    {
        QFETCH(int, variant);
        QFETCH(QByteArray, lastPayload);
        const QString model("vendor/a:free");
        StreamOptions options;
        options.usageWithEmptyChoices = variant == 4;
        options.sendDone = variant == 4;
        const Reply replies[] = {
            Reply::stream(model, { "Hi" }, options),
            Reply::streamError(model, { "Hi" }, 502, "Provider returned error"),
            Reply::streamError(model, {}, "server_error", "Provider disconnected unexpectedly"),
            Reply::events({ sse::roleChunk(model), sse::finishChunk(model, "error") }, options),
            Reply::stream(model, { "Hi" }, options),
        };
        FakeService service;
        QVERIFY(service.start());
        service.onAnyChat(replies[variant]);
        RawClient client(service.port());
        client.send(chatRequest(model));
        QVERIFY(client.waitClosed());

        const QList<QByteArray> payloads = dataLines(client.body());
        QVERIFY2(payloads.last().contains(lastPayload), payloads.last().constData());
        if (variant == 1 || variant == 2) {
            const QJsonObject last = QJsonDocument::fromJson(payloads.last()).object();
            QVERIFY(last.value("error").isObject());
            QCOMPARE(last.value("choices")[0].toObject().value("finish_reason").toString(), "error");
        }
        if (variant == 4)
            QCOMPARE(QJsonDocument::fromJson(payloads.at(payloads.size() - 2))
                         .object()
                         .value("choices")
                         .toArray()
                         .size(),
                0);
    }

    void errorRepliesCarryStatusBodyAndHeaders()
    {
        FakeService service;
        QVERIFY(service.start());
        service.onChat(
            "vendor/busy:free", Reply::error(429, "Rate limit exceeded: free-models-per-min. ", "30"));
        service.onChat("vendor/daily:free", replies::dailyLimit());
        const QByteArray body = QJsonDocument(QJsonObject{ { "model", "vendor/busy:free" } }).toJson();

        const Fetched busy = fetch("POST", service.apiBase() + "/chat/completions", body, "k");
        QCOMPARE(busy.status, 429);
        QCOMPARE(busy.header("Retry-After"), "30");
        QCOMPARE(busy.header("Content-Length").toInt(), busy.body.size());
        QCOMPARE(busy.json().value("error").toObject().value("code").toInt(), 429);
        QCOMPARE(busy.json().value("error").toObject().value("message").toString(),
            "Rate limit exceeded: free-models-per-min. ");

        const Fetched daily = fetch("POST", service.apiBase() + "/chat/completions",
            QJsonDocument(QJsonObject{ { "model", "vendor/daily:free" } }).toJson(), "k");
        QCOMPARE(daily.status, 429);
        QVERIFY(daily.header("Retry-After").isEmpty());
        QVERIFY(daily.json().value("error").toObject().value("message").toString().contains(
            "free-models-per-day"));
    }

    void routesTakeQueuedRepliesFirst()
    {
        FakeService service;
        QVERIFY(service.start());
        service.enqueue("GET", "/api/v1/models", Reply::error(503, "Service temporarily unavailable"));
        service.on("GET", "/api/v1/models",
            Reply::json(200, QJsonObject{ { "data", QJsonArray{} }, { "mine", true } }));
        service.setCatalogue(catalogue::sample());
        QCOMPARE(fetch("GET", service.apiBase() + "/models").status, 503);
        QVERIFY(fetch("GET", service.apiBase() + "/models?x=1").json().value("mine").toBool());

        const QString chat = service.apiBase() + "/chat/completions";
        const QByteArray body
            = QJsonDocument(QJsonObject{ { "model", "vendor/a:free" }, { "stream", true } }).toJson();
        service.enqueueChat("vendor/a:free", Reply::error(502, "Provider returned error"));
        service.onAnyChat(Reply::stream("vendor/any:free", { "Any" }));
        QCOMPARE(fetch("POST", chat, body, "k").status, 502);
        QVERIFY(fetch("POST", chat, body, "k").body.contains("\"content\":\"Any\""));

        service.reset();
        service.setCatalogue(catalogue::sample());
        QCOMPARE(fetch("GET", service.apiBase() + "/models").json().value("data").toArray().size(),
            catalogue::sample().size());
    }

    void keptAliveConnectionServesTheNextRequest()
    {
        FakeService service;
        QVERIFY(service.start());
        Reply first = Reply::json(200, QJsonObject{ { "n", 1 } });
        first.closeAfter = false;
        service.enqueue("GET", "/one", first);
        service.enqueue("GET", "/one", Reply::json(200, QJsonObject{ { "n", 2 } }));
        RawClient client(service.port());
        client.send("GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /one HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(client.waitClosed());
        QVERIFY(client.received.contains("Connection: keep-alive"));
        QVERIFY(client.received.contains("{\"n\":1}HTTP/1.1 200 OK"));
        QVERIFY(client.received.endsWith("{\"n\":2}"));
    }

    void keyCheck_data()
    {
        QTest::addColumn<QStringList>("validKeys");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("freeTier");
        // The day's free requests: what the fake is told (undefined: nothing;
        // null: leave them out; else the limit and the requests used
        // elsewhere), the chats it then gets with the key, and what /key says.
        QTest::addColumn<QJsonValue>("told");
        QTest::addColumn<int>("chats");
        QTest::addColumn<QJsonValue>("daily");
        const QJsonValue untold(QJsonValue::Undefined);
        const QJsonObject untouched{ { "limit", 50 }, { "remaining", 50 }, { "used", 0 } };
        QTest::newRow("any key when none set") << QStringList() << QByteArray("anything") << 200 << "" << true
                                               << untold << 0 << QJsonValue(untouched);
        QTest::newRow("listed key") << QStringList{ "good" } << QByteArray("good") << 200 << "" << true
                                    << untold << 0 << QJsonValue(untouched);
        QTest::newRow("account that bought credits") << QStringList{ "good" } << QByteArray("good") << 200
                                                     << "" << false << untold << 0 << QJsonValue(untouched);
        QTest::newRow("unlisted key") << QStringList{ "good" } << QByteArray("bad") << 401
                                      << "User not found." << true << untold << 0 << untold;
        QTest::newRow("no key") << QStringList() << QByteArray() << 401 << "No cookie auth credentials found"
                                << true << untold << 0 << untold;
        QTest::newRow("today's chats with the key, and elsewhere")
            << QStringList{ "good" } << QByteArray("good") << 200 << "" << false
            << QJsonValue(QJsonObject{ { "limit", 1000 }, { "used_elsewhere", 7 } }) << 2
            << QJsonValue(QJsonObject{ { "limit", 1000 }, { "remaining", 991 }, { "used", 9 } });
        QTest::newRow("an older answer") << QStringList() << QByteArray("k") << 200 << "" << true
                                         << QJsonValue(QJsonValue::Null) << 1 << untold;
    }

    void keyCheck()
    {
        QFETCH(QStringList, validKeys);
        QFETCH(QByteArray, key);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(bool, freeTier);
        QFETCH(QJsonValue, told);
        QFETCH(int, chats);
        QFETCH(QJsonValue, daily);
        FakeService service;
        QVERIFY(service.start());
        if (!validKeys.isEmpty())
            service.setValidKeys(validKeys);
        service.setFreeTier(freeTier);
        if (told.isNull())
            service.omitDailyRequests();
        else if (told.isObject())
            service.setDailyRequests(told["limit"].toInt(), told["used_elsewhere"].toInt());
        const QByteArray chat = QJsonDocument(QJsonObject{ { "model", "vendor/a:free" }, { "stream", true } })
                                    .toJson(QJsonDocument::Compact);
        for (int i = 0; i < chats; ++i)
            fetch("POST", service.apiBase() + "/chat/completions", chat, key);
        fetch("POST", service.apiBase() + "/chat/completions", chat, "someone-else");
        const Fetched fetched = fetch("GET", service.apiBase() + "/key", {}, key);
        QCOMPARE(fetched.status, status);
        if (status != 200) {
            QCOMPARE(fetched.json().value("error").toObject().value("message").toString(), message);
            return;
        }
        const QJsonObject data = fetched.json().value("data").toObject();
        QCOMPARE(data.value("is_free_tier").toBool(!freeTier), freeTier);
        QCOMPARE(data.value("free_model_daily_requests"), daily);
    }

    void statsAndCatalogueFixtures()
    {
        FakeService service;
        QVERIFY(service.start());
        service.setCatalogue(
            { catalogue::freeModel("vendor/eye:free", "Vendor: Eye (free)", 4096, { "text", "image" }) });
        service.setStats("vendor/eye:free", stats::endpoints(99.5, 420));

        const QJsonObject entry
            = fetch("GET", service.apiBase() + "/models").json().value("data")[0].toObject();
        QCOMPARE(entry.value("pricing").toObject().value("prompt").toString(), "0");
        QCOMPARE(entry.value("architecture").toObject().value("modality").toString(), "text+image->text");
        QVERIFY(entry.value("expiration_date").isNull());

        const QJsonObject data = fetch("GET", service.apiBase() + "/models/vendor/eye:free/endpoints")
                                     .json()
                                     .value("data")
                                     .toObject();
        QCOMPARE(data.value("id").toString(), "vendor/eye:free");
        const QJsonObject endpoint = data.value("endpoints")[0].toObject();
        QCOMPARE(endpoint.value("uptime_last_30m").toDouble(), 99.5);
        QCOMPARE(endpoint.value("latency_last_30m").toObject().value("p50").toDouble(), 420.0);

        const Fetched unknown = fetch("GET", service.apiBase() + "/models/vendor/none:free/endpoints");
        QCOMPARE(unknown.status, 404);
        QVERIFY(unknown.json().value("error").isObject());
    }

    void signInRedirectsAndExchangesTheCode()
    {
        FakeService service;
        QVERIFY(service.start());
        service.setExchange("code-1");
        const QString verifier(64, QLatin1Char('v'));
        const QString challenge = QString::fromLatin1(
            QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        const Fetched page = fetch("GET",
            service.origin()
                + "/auth?callback_url=" + QUrl::toPercentEncoding("http://localhost:4242/callback")
                + "&code_challenge=" + challenge + "&code_challenge_method=S256&state=s1&key_label=Tolvi");
        QCOMPARE(page.status, 302);
        QCOMPARE(page.header("Location"), "http://localhost:4242/callback?code=code-1");

        auto exchange = [&](const QString &code, const QString &withVerifier) {
            return fetch("POST", service.apiBase() + "/auth/keys",
                QJsonDocument(QJsonObject{ { "code", code }, { "code_verifier", withVerifier },
                                  { "code_challenge_method", "S256" } })
                    .toJson());
        };
        const Fetched good = exchange("code-1", verifier);
        QCOMPARE(good.status, 200);
        QCOMPARE(good.json().value("key").toString(), service.exchangeKey());
        QVERIFY(QRegularExpression("^sk-or-v1-[0-9a-f]{64}$").match(service.exchangeKey()).hasMatch());
        QCOMPARE(exchange("code-2", verifier).status, 403);
        QCOMPARE(exchange("code-1", "wrong").status, 403);

        service.setAuthError("access_denied", "No thanks");
        QCOMPARE(fetch("GET", service.origin() + "/auth?callback_url=http://localhost:1/callback")
                     .header("Location"),
            "http://localhost:1/callback?error=access_denied&error_description=No%20thanks");
    }

    void clientCloseIsNoticed()
    {
        FakeService service;
        QVERIFY(service.start());
        service.onAnyChat(Reply::stream("vendor/a:free", { "Hi" }, [] {
            StreamOptions options;
            options.holdAt = { 1 };
            return options;
        }()));
        QSignalSpy closes(&service, &FakeService::clientClosed);
        QNetworkRequest request(QUrl(service.apiBase() + "/chat/completions"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        std::unique_ptr<QNetworkReply> reply(
            m_network.post(request, chatRequest("vendor/a:free").split('\n').last()));
        QVERIFY(testsupport::waitFor([&] { return service.heldSteps() == 1; }));
        QVERIFY(testsupport::waitFor([&] { return reply->bytesAvailable() > 0; }));
        reply->abort();
        QVERIFY(testsupport::waitFor([&] { return service.clientCloses() == 1; }));
        QCOMPARE(closes.count(), 1);
        QCOMPARE(service.heldSteps(), 0);
        QVERIFY(testsupport::waitFor([&] { return service.openConnections() == 0; }));
    }

    void standaloneProgramFollowsItsScript()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile scriptFile(dir.filePath("script.json"));
        QVERIFY(scriptFile.open(QIODevice::WriteOnly));
        scriptFile.write(R"({"catalogue_sample": true, "valid_keys": ["k1"],
            "daily_requests": {"limit": 1000, "used_elsewhere": 7},
            "chat": {"vendor/x:free": {"sequence": [{"status": 503, "message": "Service temporarily unavailable"},
                                                    {"pieces": ["Second."]}]}}})");
        scriptFile.close();

        QProcess program;
        program.start(TOLVI_FAKE_SERVICE_PATH, { "--script", scriptFile.fileName() });
        QVERIFY(testsupport::waitFor(
            [&] { return program.canReadLine() || program.state() == QProcess::NotRunning; }));
        const QByteArray line = program.readLine().trimmed();
        QVERIFY2(line.startsWith("PORT "), line.constData());
        const QString origin = "http://127.0.0.1:" + QString::fromLatin1(line.mid(5));
        const QString chat = origin + "/api/v1/chat/completions";
        const QByteArray x
            = QJsonDocument(QJsonObject{ { "model", "vendor/x:free" }, { "stream", true } }).toJson();

        QCOMPARE(fetch("GET", origin + "/api/v1/models").json().value("data").toArray().size(),
            catalogue::sample().size());
        QCOMPARE(fetch("GET", origin + "/api/v1/key", {}, "k2").status, 401);
        QCOMPARE(fetch("POST", chat, x, "k1").status, 503);
        QVERIFY(fetch("POST", chat, x, "k1").body.contains("\"content\":\"Second.\""));
        QVERIFY(fetch("POST", chat, x, "k1").body.contains("\"content\":\" there.\""));
        const auto daily = [&] {
            const QJsonObject data
                = fetch("GET", origin + "/api/v1/key", {}, "k1").json().value("data").toObject();
            return data.value("free_model_daily_requests");
        };
        QCOMPARE(daily(), QJsonObject({ { "limit", 1000 }, { "remaining", 990 }, { "used", 10 } }));

        const QByteArray script
            = R"({"chat": {"*": {"pieces": ["Held."], "hold_at": [0]}}, "daily_requests": null})";
        QCOMPARE(fetch("POST", origin + "/__fake/script", script).status, 200);
        QCOMPARE(fetch("POST", origin + "/__fake/script", "[1]").status, 400);
        QCOMPARE(fetch("POST", origin + "/__fake/script", R"({"daily_requests": 50})").status, 400);
        QVERIFY(daily().isUndefined());
        QNetworkRequest request{ QUrl(chat) };
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        std::unique_ptr<QNetworkReply> held(m_network.post(request, x));
        QVERIFY(testsupport::waitFor(
            [&] { return fetch("GET", origin + "/__fake/status").json().value("held").toInt() == 1; }));
        QVERIFY(fetch("POST", origin + "/__fake/release").json().value("released").toBool());
        QVERIFY(testsupport::waitFor([&] { return held->isFinished(); }));
        QVERIFY(held->readAll().contains("\"content\":\"Held.\""));

        const QJsonArray requests
            = fetch("GET", origin + "/__fake/requests").json().value("requests").toArray();
        QCOMPARE(requests.size(), 8); // models, key, three chats, two more keys, the held chat
        QCOMPARE(requests.last().toObject().value("path").toString(), "/api/v1/chat/completions");
        QVERIFY(requests.last().toObject().value("body").toString().contains("vendor/x:free"));

        program.kill();
        QVERIFY(program.waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestFakeService)
#include "test_fake_service.moc"
