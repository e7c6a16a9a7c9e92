// The loopback listener against real clients over real sockets.
#include "AuthTestTools.h"
#include "TestSupport.h"
#include "core/auth/LoopbackServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using authtest::RawExchange;
using authtest::sendRaw;
using Query = LoopbackServer::Query;

namespace {

const QHostAddress v4 = QHostAddress(QHostAddress::LocalHost);
const QHostAddress v6 = QHostAddress(QHostAddress::LocalHostIPv6);

// A started server and the outcomes it delivered.
struct Harness {
    LoopbackServer server;
    QList<LoopbackServer::CallbackOutcome> outcomes;
    quint16 port = 0;

    // signedIn: the outcome the browser is told, given up front; nothing
    // holds callbacks until the test gives it.
    bool start(int requestLineTimeoutMs = 5000, std::optional<bool> signedIn = true)
    {
        server.setRequestLineTimeoutMs(requestLineTimeoutMs);
        if (signedIn)
            server.answerCallbacks(*signedIn);
        port = server.start().port;
        return port != 0;
    }
    void wait()
    {
        server.waitForCallback([this](const LoopbackServer::CallbackOutcome &o) { outcomes.append(o); });
    }
    bool waitForOutcome()
    {
        return testsupport::waitFor([this] { return !outcomes.isEmpty(); });
    }
    RawExchange get(const QByteArray &target, const QHostAddress &address = v4)
    {
        return sendRaw(address, port, { "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n" });
    }
};

QByteArray statusLine(const QByteArray &answer)
{
    return answer.left(answer.indexOf("\r\n"));
}

QByteArray body(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// IPv6 is optional where the system has none; under CI it must be there.
bool haveIPv6OrSkip()
{
    if (authtest::systemHasIPv6Loopback())
        return true;
    if (qEnvironmentVariable("CI") == QLatin1String("true"))
        qFatal("no IPv6 loopback on this system");
    return false;
}

} // namespace

class LoopbackServerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void callbackQuery_data();
    void callbackQuery();
    void exactResponses();
    void signInNotCompletedPage_data();
    void signInNotCompletedPage();
    void callbackWaitsForTheOutcome_data();
    void callbackWaitsForTheOutcome();
    void foreignRequestsKeepWaiting_data();
    void foreignRequestsKeepWaiting();
    void callbackBeforeWaitIsKept();
    void laterCallbacksChangeNothing();
    void failDecidesOutcome();
    void realClients_data();
    void realClients();
    void networkAccessManagerOverIPv6();
    void requestLineInPieces();
    void silentClientGets404();
    void junkLeavesItServing();
    void listensOnLoopbackOnly();
};

void LoopbackServerTest::callbackQuery_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<Query>("expected");
    QTest::newRow("code and state") << QByteArray("GET /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n")
                                    << Query{ { "code", "abc" }, { "state", "xyz" } };
    QTest::newRow("repeated name") << QByteArray("GET /callback?a=1&a=2&code=c HTTP/1.1\r\n\r\n")
                                   << Query{ { "a", "2" }, { "code", "c" } };
    QTest::newRow("item without =") << QByteArray("GET /callback?flag&code=c HTTP/1.1\r\n\r\n")
                                    << Query{ { "flag", "" }, { "code", "c" } };
    QTest::newRow("no query") << QByteArray("GET /callback HTTP/1.1\r\n\r\n") << Query{};
    QTest::newRow("percent-decoded") << QByteArray(
        "GET /callback?na%20me=v%26w%3D&code=%C3%A9+x HTTP/1.1\r\n\r\n")
                                     << Query{ { "na me", "v&w=" }, { "code", "é+x" } };
    QTest::newRow("POST like GET") << QByteArray(
        "POST /callback?code=p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                                   << Query{ { "code", "p" } };
    QTest::newRow("bare LF") << QByteArray("GET /callback?code=lf HTTP/1.1\nHost: x\n\n")
                             << Query{ { "code", "lf" } };
}

void LoopbackServerTest::callbackQuery()
{
    QFETCH(QByteArray, request);
    QFETCH(Query, expected);
    Harness h;
    QVERIFY(h.start());
    h.wait();
    const RawExchange exchange = sendRaw(v4, h.port, { request });
    QVERIFY(exchange.closedByServer);
    QCOMPARE(statusLine(exchange.answer), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(h.waitForOutcome());
    QVERIFY(h.outcomes.first().ok());
    QCOMPARE(h.outcomes.first().value(), expected);
    QVERIFY(!h.server.isListening());
    QVERIFY(!authtest::accepts(v4, h.port));
}

void LoopbackServerTest::exactResponses()
{
    Harness h;
    QVERIFY(h.start());
    QCOMPARE(h.get("/favicon.ico").answer, authtest::expectedNotFoundResponse());
    QCOMPARE(h.get("/callback?code=ok").answer, authtest::expectedSignedInResponse());
}

void LoopbackServerTest::signInNotCompletedPage_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<Query>("expected");
    QTest::newRow("error") << QByteArray("/callback?error=access_denied")
                           << Query{ { "error", "access_denied" } };
    QTest::newRow("error beside a code")
        << QByteArray("/callback?code=c&error=x") << Query{ { "code", "c" }, { "error", "x" } };
    QTest::newRow("empty code") << QByteArray("/callback?code=") << Query{ { "code", "" } };
    QTest::newRow("no code") << QByteArray("/callback?state=s") << Query{ { "state", "s" } };
}

void LoopbackServerTest::signInNotCompletedPage()
{
    QFETCH(QByteArray, target);
    QFETCH(Query, expected);
    Harness h;
    QVERIFY(h.start());
    h.wait();
    const QByteArray answer = h.get(target).answer;
    QCOMPARE(statusLine(answer), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(!answer.contains("You are signed in"));
    QVERIFY(answer.contains("<h1>Sign-in was not completed</h1>"));
    QVERIFY(answer.contains("<p>You can close this browser tab and return to Tolvi.</p>"));
    QVERIFY(answer.contains("Content-Length: " + QByteArray::number(body(answer).size()) + "\r\n"));
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), expected);
}

// A callback with a code is held until the sign-in's outcome is known; the
// browser then hears the truth, also when nobody tells the server.
void LoopbackServerTest::callbackWaitsForTheOutcome_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QByteArray>("heading");
    QTest::newRow("signed in") << "signed in" << QByteArray("You are signed in");
    QTest::newRow("not signed in") << "not signed in" << QByteArray("Sign-in was not completed");
    QTest::newRow("hold limit passes") << "hold limit" << QByteArray("Sign-in was not completed");
    QTest::newRow("server goes away") << "server gone" << QByteArray("Sign-in was not completed");
}

void LoopbackServerTest::callbackWaitsForTheOutcome()
{
    QFETCH(QString, ending);
    QFETCH(QByteArray, heading);
    auto server = std::make_unique<LoopbackServer>();
    server->setCallbackHoldMs(ending == "hold limit" ? 100 : 60000);
    const quint16 port = server->start().port;
    QVERIFY(port != 0);
    bool called = false;
    server->waitForCallback([&](const LoopbackServer::CallbackOutcome &) { called = true; });

    QTcpSocket browser;
    browser.connectToHost(v4, port);
    browser.write("GET /callback?code=c HTTP/1.1\r\n\r\n");
    QVERIFY(testsupport::waitFor([&] { return called; }));
    QCOMPARE(browser.bytesAvailable(), 0);
    QCOMPARE(browser.state(), QAbstractSocket::ConnectedState);

    if (ending == "signed in")
        server->answerCallbacks(true);
    else if (ending == "not signed in")
        server->answerCallbacks(false);
    else if (ending == "server gone")
        server.reset();
    QByteArray answer;
    QVERIFY(testsupport::waitFor([&] {
        answer += browser.readAll();
        return browser.state() == QAbstractSocket::UnconnectedState;
    }));
    QCOMPARE(statusLine(answer), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY2(answer.contains("<h1>" + heading + "</h1>"), answer.constData());
}

void LoopbackServerTest::foreignRequestsKeepWaiting_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("trailing slash") << QByteArray("GET /callback/?code=x HTTP/1.1\r\n\r\n");
    QTest::newRow("icon") << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n");
    QTest::newRow("other case") << QByteArray("GET /Callback?code=x HTTP/1.1\r\n\r\n");
    QTest::newRow("root") << QByteArray("GET / HTTP/1.1\r\n\r\n");
    QTest::newRow("one word") << QByteArray("GET\r\n\r\n");
    QTest::newRow("blank line") << QByteArray("\r\n");
    QTest::newRow("not UTF-8") << QByteArray("GET /callback?code=\xff\xfe HTTP/1.1\r\n\r\n");
    QTest::newRow("bad escape") << QByteArray("GET /callback?code=%zz HTTP/1.1\r\n\r\n");
    QTest::newRow("asterisk") << QByteArray("OPTIONS * HTTP/1.1\r\n\r\n");
    QTest::newRow("line beyond the limit")
        << "GET /callback?code=" + QByteArray(16384, 'x') + " HTTP/1.1\r\n\r\n";
}

void LoopbackServerTest::foreignRequestsKeepWaiting()
{
    QFETCH(QByteArray, request);
    Harness h;
    QVERIFY(h.start());
    h.wait();
    QCOMPARE(sendRaw(v4, h.port, { request }).answer, authtest::expectedNotFoundResponse());
    QVERIFY(h.server.isListening());
    QCOMPARE(h.get("/callback?code=after").answer, authtest::expectedSignedInResponse());
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.size(), 1);
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "after" } }));
}

void LoopbackServerTest::callbackBeforeWaitIsKept()
{
    Harness h;
    QVERIFY(h.start());
    QCOMPARE(statusLine(h.get("/callback?code=early").answer), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(!h.server.isListening());
    h.wait();
    QVERIFY(h.outcomes.isEmpty()); // delivered from the event loop, not inside the call
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "early" } }));
}

void LoopbackServerTest::laterCallbacksChangeNothing()
{
    Harness h;
    QVERIFY(h.start());
    h.wait();
    // A connection the server has taken before the first callback arrives.
    QTcpSocket early;
    early.connectToHost(v4, h.port);
    QVERIFY(testsupport::waitFor([&] { return h.server.openConnections() == 1; }));

    QCOMPARE(statusLine(h.get("/callback?code=first").answer), QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(h.waitForOutcome());
    QVERIFY(!authtest::accepts(v4, h.port));
    if (authtest::systemHasIPv6Loopback())
        QVERIFY(!authtest::accepts(v6, h.port));

    early.write("GET /callback?code=second HTTP/1.1\r\n\r\n");
    QByteArray answer;
    QVERIFY(testsupport::waitFor([&] {
        answer += early.readAll();
        return early.state() == QAbstractSocket::UnconnectedState;
    }));
    QCOMPARE(answer, authtest::expectedSignedInResponse());
    h.server.fail(ORError::cancelled());
    QTest::qWait(50);
    QCOMPARE(h.outcomes.size(), 1);
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "first" } }));
}

void LoopbackServerTest::failDecidesOutcome()
{
    Harness h;
    QVERIFY(h.start());
    h.wait();
    h.server.fail(ORError::signInTimeout());
    h.server.fail(ORError::cancelled());
    QVERIFY(h.outcomes.isEmpty()); // never inside fail()
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().error(), ORError::signInTimeout());
    QVERIFY(!h.server.isListening());
    QVERIFY(!authtest::accepts(v4, h.port));
    QTest::qWait(50);
    QCOMPARE(h.outcomes.size(), 1);
}

void LoopbackServerTest::realClients_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("needsIPv6");
    QTest::newRow("IPv4") << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("IPv6") << QStringLiteral("[::1]") << true;
    QTest::newRow("localhost") << QStringLiteral("localhost") << false;
}

void LoopbackServerTest::realClients()
{
    QFETCH(QString, host);
    QFETCH(bool, needsIPv6);
    if (needsIPv6 && !haveIPv6OrSkip())
        QSKIP("no IPv6 loopback on this system");
    Harness h;
    QVERIFY(h.start());
    h.wait();
    const QString base = QStringLiteral("http://%1:%2").arg(host).arg(h.port);

    const authtest::CurlResult icon = authtest::curl({ "--globoff", "--include", base + "/favicon.ico" });
    QCOMPARE(icon.exitCode, 0);
    QCOMPARE(icon.output, authtest::expectedNotFoundResponse());

    const authtest::CurlResult callback = authtest::curl(
        { "--globoff", "--include", "--data", "ignored", base + "/callback?code=c1&state=s1&flag" });
    QCOMPARE(callback.exitCode, 0);
    QCOMPARE(callback.output, authtest::expectedSignedInResponse());
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "c1" }, { "state", "s1" }, { "flag", "" } }));

    const authtest::CurlResult late = authtest::curl({ "--globoff", base + "/callback?code=late" });
    QVERIFY(late.exitCode != 0); // refused: the listener is gone
}

void LoopbackServerTest::networkAccessManagerOverIPv6()
{
    if (!haveIPv6OrSkip())
        QSKIP("no IPv6 loopback on this system");
    Harness h;
    QVERIFY(h.start());
    h.wait();
    QNetworkAccessManager network;
    QNetworkReply *reply
        = network.get(QNetworkRequest(QUrl(QStringLiteral("http://[::1]:%1/callback?code=qt").arg(h.port))));
    QVERIFY(testsupport::waitFor([&] { return reply->isFinished(); }));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(reply->readAll().contains("<h1>You are signed in</h1>"));
    reply->deleteLater();
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "qt" } }));
}

void LoopbackServerTest::requestLineInPieces()
{
    Harness h;
    QVERIFY(h.start());
    h.wait();
    const RawExchange exchange = sendRaw(
        v4, h.port, { "GE", "T /call", "back?co", "de=split&st", "ate=z HTTP/1.1\r", "\nHost: x\r\n\r\n" });
    QCOMPARE(exchange.answer, authtest::expectedSignedInResponse());
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "split" }, { "state", "z" } }));
}

void LoopbackServerTest::silentClientGets404()
{
    Harness h;
    QVERIFY(h.start(100));
    h.wait();
    // Half a request line and then nothing: answered 404 once the time is up.
    QTcpSocket socket;
    socket.connectToHost(v4, h.port);
    socket.write("GET /callback?code=never");
    QByteArray answer;
    QVERIFY(testsupport::waitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }));
    QCOMPARE(answer, authtest::expectedNotFoundResponse());
    QVERIFY(h.outcomes.isEmpty());
    QVERIFY(h.server.isListening());
    QVERIFY(testsupport::waitFor([&] { return h.server.openConnections() == 0; }));
}

void LoopbackServerTest::junkLeavesItServing()
{
    Harness h;
    QVERIFY(h.start(200));
    h.wait();
    QByteArray binary(3000, '\0');
    for (char &c : binary)
        c = char(QRandomGenerator::global()->bounded(256));
    const QByteArray oversized(40000, 'A');
    const QByteArray longTarget = "GET /callback?code=" + QByteArray(20000, 'x') + " HTTP/1.1\r\n\r\n";

    // Three hundred connections, thirty at a time, cycling through the kinds.
    const QHostAddress second = authtest::systemHasIPv6Loopback() ? v6 : v4;
    int answered404 = 0;
    for (int round = 0; round < 10; ++round) {
        QList<QTcpSocket *> sockets;
        QHash<QTcpSocket *, QByteArray> answers;
        for (int i = 0; i < 30; ++i) {
            auto *socket = new QTcpSocket(this);
            socket->connectToHost(i % 2 ? v4 : second, h.port);
            switch (i % 5) {
            case 0:
                socket->write(binary);
                break;
            case 1:
                break; // connects and says nothing
            case 2:
                socket->write(oversized);
                break; // no line break in the first 16384 bytes
            case 3:
                socket->write(longTarget);
                break; // a request line beyond the limit
            case 4:
                socket->write("\x16\x03\x01\x02\x00");
                break; // a TLS hello
            }
            sockets.append(socket);
        }
        QVERIFY(testsupport::waitFor([&] {
            bool allClosed = true;
            for (QTcpSocket *socket : sockets) {
                answers[socket] += socket->readAll();
                allClosed = allClosed && socket->state() == QAbstractSocket::UnconnectedState;
            }
            return allClosed;
        }));
        for (QTcpSocket *socket : sockets) {
            // Some clients are reset before reading, since they sent more than
            // is ever read; the others must have their 404.
            if ((answers[socket] + socket->readAll()).startsWith("HTTP/1.1 404 Not Found\r\n"))
                ++answered404;

            delete socket;
        }
        // And as many that leave at once without waiting for an answer.
        for (int i = 0; i < 30; ++i) {
            QTcpSocket quitter;
            quitter.connectToHost(v4, h.port);
            testsupport::waitFor([&] { return quitter.state() != QAbstractSocket::ConnectingState; });
            quitter.abort();
        }
    }
    QVERIFY2(answered404 >= 100, qPrintable(QString::number(answered404)));
    QVERIFY(h.outcomes.isEmpty());
    QVERIFY(h.server.isListening());
    QVERIFY(testsupport::waitFor([&] { return h.server.openConnections() == 0; }));
    QCOMPARE(h.get("/callback?code=still-here").answer, authtest::expectedSignedInResponse());
    QVERIFY(h.waitForOutcome());
    QCOMPARE(h.outcomes.first().value(), (Query{ { "code", "still-here" } }));
}

void LoopbackServerTest::listensOnLoopbackOnly()
{
    Harness h;
    QVERIFY(h.start());
    const bool ipv6 = authtest::systemHasIPv6Loopback();
    QList<QHostAddress> addresses;
    for (const QTcpServer *listener : h.server.listeners()) {
        QCOMPARE(listener->serverPort(), h.port);
        addresses.append(listener->serverAddress());
    }
    QList<QHostAddress> expected{ v4 };
    if (ipv6)
        expected.append(v6);
    QCOMPARE(addresses, expected);

    // What the system itself has listening on the port: loopback sockets only.
    const QStringList listening = authtest::listeningAddresses(h.port);
    QCOMPARE(listening.size(), ipv6 ? 2 : 1);
    for (const QString &address : listening)
        QVERIFY2(address.startsWith(QLatin1String("loopback:")), qPrintable(address));
}

QTEST_GUILESS_MAIN(LoopbackServerTest)
#include "test_loopback_server.moc"
