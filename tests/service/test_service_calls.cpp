// Catalogue, statistics, probe and key check over real loopback sockets
// against the fake service, and the shared client's origin.
#include "FakeFixtures.h"
#include "FakeService.h"
#include "StreamHarness.h"
#include "TestSupport.h"

#include <QDate>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

using namespace harness;
using fake::Reply;
using Stats = std::optional<EndpointStats>;

Q_DECLARE_METATYPE(fake::Reply)
Q_DECLARE_METATYPE(ORError)

namespace {

QString localDate(int daysFromToday)
{
    return QLocale::c().toString(QDate::currentDate().addDays(daysFromToday), QStringLiteral("yyyy-MM-dd"));
}

Reply heldHead(Reply reply)
{
    reply.holdHead = true;
    return reply;
}

template <class Result, class Call> Result waitForResult(Call *call)
{
    auto collector = collect<Result>(call);
    if (!testsupport::waitFor([&] { return !collector->results.isEmpty(); }))
        qFatal("no result");
    return collector->results.first();
}

} // namespace

class ServiceCallsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void sharedClientTakesOriginFromEnvironment();
    void fetchModelsFiltersTheCatalogue();
    void fetchModelsFailures_data();
    void fetchModelsFailures();
    void fetchStats();
    void fetchStatsFailuresGiveNothing_data();
    void fetchStatsFailuresGiveNothing();
    void probeMeasuresTheFirstEvent();
    void probeOfDoneOnlyStreamGivesTheDeadline();
    void probeFailuresAreValues_data();
    void probeFailuresAreValues();
    void validateKey();
    void oneShotInactivityIsTimeout();
    void badOrigin();
    void cancelEveryKindOfCall();
    void redirectsAreNeverFollowed_data();
    void redirectsAreNeverFollowed();

private:
    fake::FakeService *m_fake = nullptr;
    OpenRouterClient *m_client = nullptr;
};

void ServiceCallsTest::init()
{
    // A call must never read a reply that Qt has closed after aborting it.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^QIODevice::")));
    m_fake = new fake::FakeService;
    QVERIFY(m_fake->start());
    m_client = new OpenRouterClient(m_fake->origin());
}

void ServiceCallsTest::cleanup()
{
    delete m_client;
    delete m_fake;
}

// The only use of shared() in this program: its origin is read once.
void ServiceCallsTest::sharedClientTakesOriginFromEnvironment()
{
    qputenv("TOLVI_SERVICE_ORIGIN", (m_fake->origin() + "/").toUtf8());
    OpenRouterClient &shared = OpenRouterClient::shared();
    QCOMPARE(&OpenRouterClient::shared(), &shared);
    QCOMPARE(shared.apiBase(), m_fake->origin() + "/api/v1");
    const KeyCheckOutcome outcome = waitForResult<KeyCheckOutcome>(shared.validateKey(key));
    QVERIFY(outcome.ok());
    QCOMPARE(m_fake->requests().size(), 1);
}

void ServiceCallsTest::fetchModelsFiltersTheCatalogue()
{
    namespace catalogue = fake::catalogue;
    m_fake->setCatalogue({
        catalogue::freeModel("vendor/sees:free", "Vendor: Sees (free)", 32768, { "text", "image" }),
        catalogue::router(),
        catalogue::paidModel("vendor/paid", "Vendor: Paid"),
        catalogue::expiring(catalogue::freeModel("vendor/gone:free", "Gone (free)"), localDate(-1)),
        catalogue::expiring(catalogue::freeModel("vendor/last-day:free", "Last day (free)"), localDate(0)),
        catalogue::freeModel("vendor/painter:free", "Painter (free)", 4096, { "text" }, { "image" }),
    });
    const ModelsOutcome outcome = waitForResult<ModelsOutcome>(m_client->fetchModels(key));
    QVERIFY(outcome.ok());
    const QList<ORModel> expected{ { "vendor/sees:free", "Vendor: Sees", 32768, true },
        { "vendor/last-day:free", "Last day", 131072, false } };
    QCOMPARE(outcome.value(), expected);

    const fake::Request request = m_fake->requests().first();
    QCOMPARE(request.method, "GET");
    QCOMPARE(request.path, "/api/v1/models");
    QCOMPARE(request.header("Authorization"), "Bearer " + key.toUtf8());
    QCOMPARE(request.header("X-OpenRouter-Title"), "Tolvi");
    QCOMPARE(request.header("X-Title"), "Tolvi");
    QVERIFY(!request.headers.contains("content-type"));
    QVERIFY(request.body.isEmpty());
}

void ServiceCallsTest::fetchModelsFailures_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<ORError>("expected");

    QTest::newRow("401") << fake::replies::unauthorized() << ORError::unauthorized("User not found.");
    QTest::newRow("429 per minute") << Reply::error(429, "Rate limit exceeded: free-models-per-min. ",
        "12") << ORError::minuteLimit("Rate limit exceeded: free-models-per-min. ", 12.0);
    QTest::newRow("data is an object")
        << Reply::json(200, QJsonObject{ { "data", QJsonObject{} } })
        << ORError::other("OpenRouter sent a model list in an unexpected format.");
    QTest::newRow("html") << Reply::text(200, "<html></html>", "text/html")
                          << ORError::other("OpenRouter sent a model list in an unexpected format.");
}

void ServiceCallsTest::fetchModelsFailures()
{
    QFETCH(Reply, reply);
    QFETCH(ORError, expected);
    m_fake->on("GET", "/api/v1/models", reply);
    const ModelsOutcome outcome = waitForResult<ModelsOutcome>(m_client->fetchModels(key));
    QCOMPARE(outcome.error(), expected);
}

void ServiceCallsTest::fetchStats()
{
    namespace stats = fake::stats;
    m_fake->setStats("vendor/m:free",
        stats::endpoints({ stats::endpoint(0.95, 800), stats::endpoint(99.0, stats::latency(450)),
            stats::endpoint(QJsonValue::Null, QJsonValue::Null) }));
    const Stats result = waitForResult<Stats>(m_client->fetchStats(key, "vendor/m:free"));
    QCOMPARE(result, Stats(EndpointStats{ 99.0, 450.0 }));
    QCOMPARE(m_fake->requests().first().path, "/api/v1/models/vendor/m:free/endpoints");
}

void ServiceCallsTest::fetchStatsFailuresGiveNothing_data()
{
    QTest::addColumn<QJsonValue>("body"); // null: no statistics known to the fake (404)
    QTest::newRow("404") << QJsonValue();
    QTest::newRow("empty endpoints") << QJsonValue(fake::stats::endpoints(QJsonArray{}));
    QTest::newRow("not JSON") << QJsonValue("{oops");
}

void ServiceCallsTest::fetchStatsFailuresGiveNothing()
{
    QFETCH(QJsonValue, body);
    if (!body.isNull())
        m_fake->setStats("vendor/m:free", body);
    const Stats result = waitForResult<Stats>(m_client->fetchStats(key, "vendor/m:free"));
    QCOMPARE(result, Stats());
    QCOMPARE(m_fake->requests().size(), 1);
}

void ServiceCallsTest::probeMeasuresTheFirstEvent()
{
    m_fake->onAnyChat(Reply::stream(model, { "Hello" }));
    const ProbeOutcome outcome = waitForResult<ProbeOutcome>(m_client->probe(key, model));
    QVERIFY(outcome.ok());
    QVERIFY(outcome.value() > 0);
    const QJsonObject expected{ { "model", model }, { "stream", true }, { "max_tokens", 1 },
        { "messages", QJsonArray{ QJsonObject{ { "role", "user" }, { "content", "hi" } } } } };
    QCOMPARE(m_fake->chatRequests().first().json(), expected);
}

void ServiceCallsTest::probeOfDoneOnlyStreamGivesTheDeadline()
{
    m_fake->onAnyChat(Reply::rawStream({ ": OPENROUTER PROCESSING\n\n", "data: [DONE]\n\n" }));
    const ProbeOutcome outcome = waitForResult<ProbeOutcome>(m_client->probe(key, model));
    QVERIFY(outcome.ok());
    QCOMPARE(outcome.value(), 6.0);
}

void ServiceCallsTest::probeFailuresAreValues_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<double>("deadline");
    QTest::addColumn<ORError>("expected");

    // Only the held reply may meet the short deadline; the answers of the
    // other rows must never race it.
    fake::StreamOptions holdFirst;
    holdFirst.holdAt = { 0 };
    QTest::newRow("first event too late")
        << Reply::stream(model, { "x" }, holdFirst) << 0.05 << ORError::timeout();
    QTest::newRow("daily limit") << fake::replies::dailyLimit() << 600.0
                                 << ORError::rateLimited(
                                        "Rate limit exceeded: free-models-per-day. Add 10 credits to "
                                        "unlock 1000 free model requests per day",
                                        std::nullopt, true);
    QTest::newRow("gone") << fake::replies::noEndpoints(model) << 600.0
                          << ORError::modelUnavailable("No endpoints found for " + model + ".");
}

void ServiceCallsTest::probeFailuresAreValues()
{
    QFETCH(Reply, reply);
    QFETCH(double, deadline);
    QFETCH(ORError, expected);
    m_client->setProbeDeadline(deadline);
    m_fake->onAnyChat(reply);
    const ProbeOutcome outcome = waitForResult<ProbeOutcome>(m_client->probe(key, model));
    QCOMPARE(outcome.error(), expected);
    m_fake->releaseAll();
}

void ServiceCallsTest::validateKey()
{
    m_fake->setValidKeys({ "sk-good" });
    QVERIFY(waitForResult<KeyCheckOutcome>(m_client->validateKey("sk-good")).ok());
    const KeyCheckOutcome bad = waitForResult<KeyCheckOutcome>(m_client->validateKey("sk-bad"));
    QCOMPARE(bad.error(), ORError::unauthorized("User not found."));
    QCOMPARE(m_fake->requests().first().path, "/api/v1/key");
    QCOMPARE(m_fake->requests().last().bearer(), "sk-bad");

    // A line break inside a key must not start a header of its own.
    const KeyCheckOutcome injected
        = waitForResult<KeyCheckOutcome>(m_client->validateKey("sk-good\r\nX-Evil: 1"));
    QCOMPARE(injected.error(), ORError::unauthorized("User not found."));
    QVERIFY(!m_fake->requests().last().headers.contains("x-evil"));
}

// Qt's transfer time-out reports a cancellation; a one-shot call must still
// read it as a time-out.
void ServiceCallsTest::oneShotInactivityIsTimeout()
{
    m_fake->on("GET", "/api/v1/slow", heldHead(Reply::json(200, QJsonObject{})));
    const BytesOutcome outcome = waitForResult<BytesOutcome>(m_client->perform("/slow", key, 100));
    QCOMPARE(outcome.error(), ORError::timeout());
    m_fake->releaseAll();
}

void ServiceCallsTest::badOrigin()
{
    OpenRouterClient client("http://exa mple");
    QCOMPARE(
        waitForResult<ModelsOutcome>(client.fetchModels(key)).error(), ORError::other("Bad URL: /models"));
    QCOMPARE(
        waitForResult<KeyCheckOutcome>(client.validateKey(key)).error(), ORError::other("Bad URL: /key"));
    QCOMPARE(waitForResult<Stats>(client.fetchStats(key, "vendor/m:free")), Stats());
    QCOMPARE(waitForResult<Stats>(m_client->fetchStats(key, "vendor/with space")), Stats());
    QVERIFY(m_fake->requests().isEmpty());
}

// Each call is cancelled while the fake holds its reply: it says nothing,
// then or later, deletes itself, and the fake sees the connection go.
void ServiceCallsTest::cancelEveryKindOfCall()
{
    m_fake->on("GET", "/api/v1/models", heldHead(Reply::json(200, QJsonObject{ { "data", QJsonArray{} } })));
    m_fake->on("GET", "/api/v1/key", heldHead(Reply::json(200, QJsonObject{})));
    m_fake->setStats("vendor/m:free", fake::stats::endpoints(99, 500), 60000);
    fake::StreamOptions holdFirst;
    holdFirst.holdAt = { 0 };
    m_fake->onAnyChat(Reply::stream(model, { "x" }, holdFirst));

    auto models = collect<ModelsOutcome>(m_client->fetchModels(key));
    auto keyCheck = collect<KeyCheckOutcome>(m_client->validateKey(key));
    auto stats = collect<Stats>(m_client->fetchStats(key, "vendor/m:free"));
    auto probe = collect<ProbeOutcome>(m_client->probe(key, model));
    QVERIFY(testsupport::waitFor([&] { return m_fake->requests().size() == 4; }));
    models->call->cancel();
    keyCheck->call->cancel();
    stats->call->cancel();
    probe->call->cancel();
    QTRY_VERIFY(
        models->call.isNull() && keyCheck->call.isNull() && stats->call.isNull() && probe->call.isNull());
    QTRY_COMPARE(m_fake->clientCloses(), 4);
    m_fake->releaseAll();
    QTRY_VERIFY(m_client->findChildren<ServiceCall *>().isEmpty());
    QVERIFY(models->results.isEmpty() && keyCheck->results.isEmpty() && stats->results.isEmpty()
        && probe->results.isEmpty());
}

// Every request carries the key: an answer that points elsewhere fails the
// call as the status it is, and the other origin hears nothing.
void ServiceCallsTest::redirectsAreNeverFollowed_data()
{
    QTest::addColumn<int>("status");
    for (const int status : { 301, 302, 307, 308 })
        QTest::newRow(qPrintable(QString::number(status))) << status;
}

void ServiceCallsTest::redirectsAreNeverFollowed()
{
    QFETCH(int, status);
    fake::FakeService elsewhere;
    QVERIFY(elsewhere.start());
    m_fake->setResponder([&](const fake::Request &request) -> std::optional<Reply> {
        return Reply::redirect(status, elsewhere.origin().toUtf8() + request.path);
    });
    const ORError expected = ORError::badRequest(status, "<html><body>Moved</body></html>");

    auto chat = stream(*m_client);
    QVERIFY(testsupport::waitFor([&] { return !chat->outcomes.isEmpty(); }));
    QCOMPARE(chat->outcomes.first().error(), expected);
    QCOMPARE(waitForResult<KeyCheckOutcome>(m_client->validateKey(key)).error(), expected);
    QCOMPARE(waitForResult<ModelsOutcome>(m_client->fetchModels(key)).error(), expected);
    QCOMPARE(m_fake->requests().size(), 3);
    QVERIFY(elsewhere.requests().isEmpty());
}

QTEST_GUILESS_MAIN(ServiceCallsTest)
#include "test_service_calls.moc"
