// The whole browser sign-in against the fake service. The browser is stood in
// by a URL handler that reads the sign-in URL and calls back over real HTTP.
#include "AuthTestTools.h"
#include "FakeService.h"
#include "TestSupport.h"
#include "core/auth/OpenRouterAuth.h"
#include "core/auth/PKCE.h"
#include "core/service/OpenRouterClient.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QHostAddress v4 = QHostAddress(QHostAddress::LocalHost);
const QHostAddress v6 = QHostAddress(QHostAddress::LocalHostIPv6);

QString itemValue(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
}

} // namespace

// Stands in for the user's browser: QDesktopServices hands it the URL.
class FakeBrowser : public QObject
{
    Q_OBJECT
public:
    enum class Act { follow, callBack, nothing };

    Act act = Act::follow;
    QString callbackQuery; // for callBack; "{state}" is replaced by the URL's state
    QList<QUrl> opened;
    QNetworkReply *pageReply = nullptr;

    QUrl callbackUrl() const { return QUrl(itemValue(opened.value(0), QStringLiteral("callback_url"))); }
    quint16 port() const { return quint16(callbackUrl().port()); }
    QString state() const { return itemValue(opened.value(0), QStringLiteral("state")); }

public Q_SLOTS:
    void open(const QUrl &url)
    {
        opened.append(url);
        if (act == Act::follow) {
            pageReply = m_network.get(QNetworkRequest(url)); // the fake redirects to the callback
        } else if (act == Act::callBack) {
            QString query = callbackQuery;
            query.replace(QStringLiteral("{state}"), state());
            pageReply
                = m_network.get(QNetworkRequest(QUrl(callbackUrl().toString() + QLatin1Char('?') + query)));
        }
    }

private:
    QNetworkAccessManager m_network;
};

class OpenRouterAuthTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void signInWithRedirect();
    void callbackChecks_data();
    void callbackChecks();
    void deniedThroughService();
    void browserHearsTheOutcome_data();
    void browserHearsTheOutcome();
    void exchangeAnswers_data();
    void exchangeAnswers();
    void exchangeUnreachable();
    void exchangeTimesOut();
    void signInTimesOut();
    void cancelIsSilent_data();
    void cancelIsSilent();
    void browserFailsToOpen();
    void listenerCannotStart();

private:
    // An attempt whose outcomes land in m_outcomes.
    OpenRouterAuth *newAuth(OpenRouterClient *client = nullptr);
    // Runs one attempt to its end; false when it did not finish, or did not
    // delete itself after.
    bool run(OpenRouterAuth *auth);
    bool portClosed(quint16 port) const;

    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    FakeBrowser *m_browser = nullptr;
    QList<SignInOutcome> m_outcomes;
};

void OpenRouterAuthTest::initTestCase()
{
    QVERIFY(m_fake.start());
    m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
}

void OpenRouterAuthTest::init()
{
    m_fake.reset();
    m_fake.clearRequests();
    m_outcomes.clear();
    m_browser = new FakeBrowser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), m_browser, "open");
}

void OpenRouterAuthTest::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    delete m_browser;
    m_browser = nullptr;
}

OpenRouterAuth *OpenRouterAuthTest::newAuth(OpenRouterClient *client)
{
    auto *auth = new OpenRouterAuth(client ? *client : *m_client, this);
    connect(auth, &OpenRouterAuth::finished, this, [this](const SignInOutcome &o) { m_outcomes.append(o); });
    return auth;
}

bool OpenRouterAuthTest::run(OpenRouterAuth *auth)
{
    const QPointer<OpenRouterAuth> alive(auth);
    auth->signIn();
    return testsupport::waitFor([this] { return !m_outcomes.isEmpty(); })
        && testsupport::waitForDeletion(alive);
}

bool OpenRouterAuthTest::portClosed(quint16 port) const
{
    if (port == 0 || authtest::accepts(v4, port))
        return false;
    return !authtest::systemHasIPv6Loopback() || !authtest::accepts(v6, port);
}

void OpenRouterAuthTest::signInWithRedirect()
{
    m_fake.setExchange(QStringLiteral("code-1"), QStringLiteral("sk-or-v1-from-redirect"));
    OpenRouterAuth *auth = newAuth();
    QVERIFY(run(auth));
    QVERIFY(m_outcomes.first().ok());
    QCOMPARE(m_outcomes.first().value(), QStringLiteral("sk-or-v1-from-redirect"));

    // The sign-in page: the service's /auth with its five items in order,
    // values percent-encoded.
    const QUrl url = m_browser->opened.value(0);
    QCOMPARE(url.adjusted(QUrl::RemoveQuery).toString(), m_fake.origin() + QStringLiteral("/auth"));
    const QString callback = QStringLiteral("http://localhost:%1/callback").arg(m_browser->port());
    const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    QCOMPARE(items.size(), 5);
    QCOMPARE(items.at(0), qMakePair(QStringLiteral("callback_url"), callback));
    QCOMPARE(items.at(1).first, QStringLiteral("code_challenge"));
    QCOMPARE(items.at(2), qMakePair(QStringLiteral("code_challenge_method"), QStringLiteral("S256")));
    QCOMPARE(items.at(3).first, QStringLiteral("state"));
    QCOMPARE(items.at(3).second.size(), 24);
    QCOMPARE(items.at(4), qMakePair(QStringLiteral("key_label"), QStringLiteral("Tolvi")));
    QVERIFY(url.toEncoded().contains(
        "callback_url=http%3A%2F%2Flocalhost%3A" + QByteArray::number(m_browser->port()) + "%2Fcallback&"));

    // The exchange: the code, the verifier behind the challenge, S256.
    const QList<fake::Request> exchanges = m_fake.requests("/api/v1/auth/keys");
    QCOMPARE(exchanges.size(), 1);
    QCOMPARE(exchanges.first().method, QByteArray("POST"));
    QCOMPARE(exchanges.first().header("content-type"), QByteArray("application/json"));
    const QJsonObject body = exchanges.first().json();
    QCOMPARE(body.size(), 3);
    QCOMPARE(body.value("code").toString(), QStringLiteral("code-1"));
    QCOMPARE(body.value("code_challenge_method").toString(), QStringLiteral("S256"));
    const QString verifier = body.value("code_verifier").toString();
    QCOMPARE(verifier.size(), 64);
    QCOMPARE(PKCE::challenge(verifier), items.at(1).second);

    // The browser was shown the success page, and the port is closed.
    QVERIFY(testsupport::waitFor([&] { return m_browser->pageReply && m_browser->pageReply->isFinished(); }));
    QCOMPARE(m_browser->pageReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(m_browser->pageReply->readAll().contains("<h1>You are signed in</h1>"));
    QVERIFY(portClosed(m_browser->port()));

    QTest::qWait(50);
    QCOMPARE(m_outcomes.size(), 1);
}

void OpenRouterAuthTest::callbackChecks_data()
{
    const QString mismatch
        = QStringLiteral("The sign-in response didn't match this request, so it was ignored.");
    const QString noCode = QStringLiteral("OpenRouter didn't send back a sign-in code.");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("key"); // expected key, or empty when an error is expected
    QTest::addColumn<ORError>("error");
    QTest::newRow("matching state") << "code=good&state={state}"
                                    << "sk-or-v1-good" << ORError::other({});
    QTest::newRow("no state") << "code=good"
                              << "sk-or-v1-good" << ORError::other({});
    QTest::newRow("other state") << "code=good&state=not-ours"
                                 << "" << ORError::other(mismatch);
    QTest::newRow("empty state") << "code=good&state="
                                 << "" << ORError::other(mismatch);
    QTest::newRow("error") << "error=access_denied"
                           << "" << ORError::signInDenied("access_denied");
    QTest::newRow("error with description")
        << "error=access_denied&error_description=The%20user%20said%20no&code=good"
        << "" << ORError::signInDenied("The user said no");
    QTest::newRow("error before state check") << "error=x&state=not-ours"
                                              << "" << ORError::signInDenied("x");
    QTest::newRow("empty code") << "code=&state={state}"
                                << "" << ORError::other(noCode);
    QTest::newRow("no code") << "state={state}"
                             << "" << ORError::other(noCode);
    QTest::newRow("wrong code") << "code=bad"
                                << ""
                                << ORError::exchangeRejected(
                                       403, QStringLiteral("Invalid authorization code."));
}

void OpenRouterAuthTest::callbackChecks()
{
    QFETCH(QString, query);
    QFETCH(QString, key);
    QFETCH(ORError, error);
    m_fake.setExchange(QStringLiteral("good"), QStringLiteral("sk-or-v1-good"));
    m_browser->act = FakeBrowser::Act::callBack;
    m_browser->callbackQuery = query;
    OpenRouterAuth *auth = newAuth();
    QVERIFY(run(auth));
    const SignInOutcome &outcome = m_outcomes.first();
    if (key.isEmpty()) {
        QVERIFY(!outcome.ok());
        QCOMPARE(outcome.error(), error);
    } else {
        QVERIFY(outcome.ok());
        QCOMPARE(outcome.value(), key);
    }
    QVERIFY(portClosed(m_browser->port()));
}

void OpenRouterAuthTest::deniedThroughService()
{
    m_fake.setAuthError(QStringLiteral("access_denied"));
    OpenRouterAuth *auth = newAuth();
    QVERIFY(run(auth));
    QCOMPARE(m_outcomes.first().error(), ORError::signInDenied(QStringLiteral("access_denied")));
    QVERIFY(testsupport::waitFor([&] { return m_browser->pageReply && m_browser->pageReply->isFinished(); }));
    const QByteArray page = m_browser->pageReply->readAll();
    QVERIFY(page.contains("<h1>Sign-in was not completed</h1>"));
    QVERIFY(!page.contains("You are signed in"));
    QVERIFY(m_fake.requests("/api/v1/auth/keys").isEmpty());
}

// The browser is told "You are signed in" only once a key came back, and
// the key exchange never follows a redirect to another origin.
void OpenRouterAuthTest::browserHearsTheOutcome_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("redirect"); // the exchange answers with this redirect; 0: it does not
    QTest::addColumn<QByteArray>("heading");
    const QByteArray notCompleted = "Sign-in was not completed";
    QTest::newRow("key received") << "code=good&state={state}" << 0 << QByteArray("You are signed in");
    QTest::newRow("state mismatch") << "code=good&state=not-ours" << 0 << notCompleted;
    QTest::newRow("exchange refused") << "code=bad" << 0 << notCompleted;
    QTest::newRow("exchange redirected") << "code=good" << 307 << notCompleted;
}

void OpenRouterAuthTest::browserHearsTheOutcome()
{
    QFETCH(QString, query);
    QFETCH(int, redirect);
    QFETCH(QByteArray, heading);
    const bool signedIn = heading == "You are signed in";
    fake::FakeService elsewhere;
    QVERIFY(elsewhere.start());
    m_fake.setExchange(QStringLiteral("good"), QStringLiteral("sk-or-v1-good"));
    if (redirect) {
        m_fake.enqueue("POST", "/api/v1/auth/keys",
            fake::Reply::redirect(redirect, elsewhere.apiBase().toUtf8() + "/auth/keys"));
    } else if (signedIn) {
        fake::Reply held = fake::Reply::json(200, QJsonObject{ { "key", "sk-or-v1-good" } });
        held.holdHead = true;
        m_fake.enqueue("POST", "/api/v1/auth/keys", held);
    }
    m_browser->act = FakeBrowser::Act::callBack;
    m_browser->callbackQuery = query;
    OpenRouterAuth *auth = newAuth();
    QSignalSpy heldSteps(&m_fake, &fake::FakeService::stepHeld);
    auth->signIn();
    if (signedIn) {
        // The browser waits while the code is being exchanged.
        QVERIFY(testsupport::waitFor([&] { return heldSteps.size() == 1; }));
        QVERIFY(m_browser->pageReply && !m_browser->pageReply->isFinished());
        QVERIFY(m_fake.release());
    }
    QVERIFY(testsupport::waitFor([&] { return m_browser->pageReply && m_browser->pageReply->isFinished(); }));
    QCOMPARE(m_browser->pageReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QByteArray page = m_browser->pageReply->readAll();
    QVERIFY2(page.contains("<h1>" + heading + "</h1>"), page.constData());
    QVERIFY(testsupport::waitFor([this] { return !m_outcomes.isEmpty(); }));
    QCOMPARE(m_outcomes.first().ok(), signedIn);
    QVERIFY(elsewhere.requests().isEmpty());
}

void OpenRouterAuthTest::exchangeAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("key"); // expected key, or empty when an error is expected
    QTest::addColumn<ORError>("error");
    auto rejected = [](int status, const QByteArray &text) {
        return ORError::exchangeRejected(status, QString::fromUtf8(text));
    };
    const QByteArray noKey = R"({"user_id":"user_1"})";
    QTest::newRow("200 without key") << 200 << noKey << QString() << rejected(200, noKey);
    const QByteArray emptyKey = R"({"key":""})";
    QTest::newRow("200 with empty key") << 200 << emptyKey << QString() << rejected(200, emptyKey);
    const QByteArray numberKey = R"({"key":42})";
    QTest::newRow("200 with number key") << 200 << numberKey << QString() << rejected(200, numberKey);
    QTest::newRow("400 with message")
        << 400 << QByteArray(R"({"error":{"code":400,"message":"Invalid code_verifier."},"user_id":"u"})")
        << QString() << rejected(400, "Invalid code_verifier.");
    const QByteArray errorText = R"({"error":"plain words"})";
    QTest::newRow("error not an object") << 403 << errorText << QString() << rejected(403, errorText);
    const QByteArray longText = QByteArray(450, 'a') + QByteArray(100, 'b');
    QTest::newRow("500 with text") << 500 << longText << QString() << rejected(500, longText.left(500));
    QTest::newRow("500 cut inside a character")
        << 500 << QByteArray(499, 'a') + "\xc3\xa9 and more" << QString() << rejected(500, {});
    QTest::newRow("201 with key") << 201 << QByteArray(R"({"key":"sk-or-v1-created","user_id":"u"})")
                                  << QStringLiteral("sk-or-v1-created") << ORError::other({});
    QTest::newRow("key with an error status") << 401 << QByteArray(R"({"key":"sk-or-v1-no"})") << QString()
                                              << rejected(401, R"({"key":"sk-or-v1-no"})");
}

void OpenRouterAuthTest::exchangeAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, key);
    QFETCH(ORError, error);
    m_fake.setExchange(QStringLiteral("c"));
    m_fake.enqueue("POST", "/api/v1/auth/keys", fake::Reply::text(status, body, "application/json"));
    m_browser->act = FakeBrowser::Act::callBack;
    m_browser->callbackQuery = QStringLiteral("code=c");
    OpenRouterAuth *auth = newAuth();
    QVERIFY(run(auth));
    const SignInOutcome &outcome = m_outcomes.first();
    if (key.isEmpty()) {
        QVERIFY(!outcome.ok());
        QCOMPARE(outcome.error(), error);
    } else {
        QVERIFY(outcome.ok());
        QCOMPARE(outcome.value(), key);
    }
}

void OpenRouterAuthTest::exchangeUnreachable()
{
    QTcpServer gone;
    QVERIFY(gone.listen(v4));
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(gone.serverPort());
    gone.close();
    OpenRouterClient unreachable(origin);
    m_browser->act = FakeBrowser::Act::callBack;
    m_browser->callbackQuery = QStringLiteral("code=c");
    OpenRouterAuth *auth = newAuth(&unreachable);
    QVERIFY(run(auth));
    QVERIFY(!m_outcomes.first().ok());
    QCOMPARE(m_outcomes.first().error().kind(), ORError::Kind::network);
}

void OpenRouterAuthTest::exchangeTimesOut()
{
    m_fake.setExchange(QStringLiteral("c"));
    fake::Reply held = fake::Reply::json(200, QJsonObject{ { "key", "sk-or-v1-late" } });
    held.body.first().held = true;
    m_fake.enqueue("POST", "/api/v1/auth/keys", held);
    m_browser->act = FakeBrowser::Act::callBack;
    m_browser->callbackQuery = QStringLiteral("code=c");
    OpenRouterAuth *auth = newAuth();
    auth->setExchangeTimeoutMs(100);
    QVERIFY(run(auth));
    QCOMPARE(m_outcomes.first().error(), ORError::timeout());
    m_fake.releaseAll();
}

void OpenRouterAuthTest::signInTimesOut()
{
    m_browser->act = FakeBrowser::Act::nothing;
    OpenRouterAuth *auth = newAuth();
    auth->setTimeoutMs(100);
    QVERIFY(run(auth));
    QCOMPARE(m_outcomes.first().error(), ORError::signInTimeout());
    QVERIFY(portClosed(m_browser->port()));
}

// After cancel() nothing is reported, whatever the browser or the service
// still do, nor an outcome decided before but not yet told; the attempt
// deletes itself.
void OpenRouterAuthTest::cancelIsSilent_data()
{
    QTest::addColumn<QString>("phase");
    QTest::newRow("waiting for the browser") << "waiting";
    QTest::newRow("exchanging the code") << "exchanging";
    QTest::newRow("failed, not yet told") << "failed";
}

void OpenRouterAuthTest::cancelIsSilent()
{
    QFETCH(QString, phase);
    const bool exchanging = phase == "exchanging";
    m_fake.setExchange(QStringLiteral("c"));
    fake::Reply held = fake::Reply::json(200, QJsonObject{ { "key", "sk-or-v1-late" } });
    held.headDelayMs = 0;
    held.body.first().held = true;
    m_fake.enqueue("POST", "/api/v1/auth/keys", held);
    m_browser->act = exchanging ? FakeBrowser::Act::callBack : FakeBrowser::Act::nothing;
    m_browser->callbackQuery = QStringLiteral("code=c");
    if (phase == "failed")
        QDesktopServices::unsetUrlHandler(QStringLiteral("http")); // opening the page fails
    const QPointer<OpenRouterAuth> auth = newAuth();
    QSignalSpy heldSteps(&m_fake, &fake::FakeService::stepHeld);
    auth->signIn();
    const quint16 port = auth->findChild<LoopbackServer *>()->port();
    if (exchanging)
        QVERIFY(testsupport::waitFor([&] { return heldSteps.size() == 1; }));
    else if (phase == "waiting")
        QVERIFY(authtest::accepts(v4, port));

    auth->cancel();
    QVERIFY(portClosed(port));
    QVERIFY(testsupport::waitForDeletion(auth));
    if (exchanging) {
        QVERIFY(testsupport::waitFor([this] { return m_fake.clientCloses() >= 1; }));
        m_fake.releaseAll();
    } else {
        const authtest::RawExchange late
            = authtest::sendRaw(v4, port, { "GET /callback?code=late HTTP/1.1\r\n\r\n" });
        QVERIFY(!late.connected);
    }
    QVERIFY(m_outcomes.isEmpty());
    QCOMPARE(m_fake.requests("/api/v1/auth/keys").size(), exchanging ? 1 : 0);
}

void OpenRouterAuthTest::browserFailsToOpen()
{
    // No handler and no desktop integration: opening the URL fails.
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    OpenRouterAuth *auth = newAuth();
    auth->signIn();
    const LoopbackServer *server = auth->findChild<LoopbackServer *>();
    QVERIFY(server);
    const quint16 port = server->port();
    QVERIFY(testsupport::waitFor([this] { return !m_outcomes.isEmpty(); }));
    QCOMPARE(m_outcomes.first().error(), ORError::browserFailed());
    QVERIFY(portClosed(port));
}

// Uses up every file descriptor while it lives, so that no socket can open.
class DescriptorsExhausted
{
public:
    DescriptorsExhausted()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit tight = m_saved;
        tight.rlim_cur = std::min<rlim_t>(m_saved.rlim_cur, 4096);
        setrlimit(RLIMIT_NOFILE, &tight);
        for (int fd = dup(0); fd >= 0; fd = dup(0))
            m_taken.append(fd);
    }
    ~DescriptorsExhausted()
    {
        for (int fd : std::as_const(m_taken))
            close(fd);
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }

private:
    rlimit m_saved{};
    QList<int> m_taken;
};

void OpenRouterAuthTest::listenerCannotStart()
{
    OpenRouterAuth *auth = newAuth();
    {
        DescriptorsExhausted exhausted;
        auth->signIn();
    }
    QVERIFY(testsupport::waitFor([this] { return !m_outcomes.isEmpty(); }));
    const ORError error = m_outcomes.first().error();
    QCOMPARE(error.kind(), ORError::Kind::other);
    const QString prefix = QStringLiteral("Couldn't start the local sign-in listener: ");
    QVERIFY2(
        error.text().startsWith(prefix) && error.text().size() > prefix.size(), qPrintable(error.text()));
    QVERIFY(m_browser->opened.isEmpty());
}

QTEST_GUILESS_MAIN(OpenRouterAuthTest)
#include "test_openrouter_auth.moc"
