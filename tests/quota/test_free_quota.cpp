// The free requests left today, through the real client against the fake
// service, on a clock the test sets: Tolvi's own count, the account's tier
// and the service's numbers of the day from /key, and the numbers of a
// daily-limit answer, kept in quota.json across restarts and started again
// each UTC day.
#include "FakeFixtures.h"
#include "FakeService.h"
#include "TestSupport.h"
#include "core/quota/FreeQuota.h"
#include "core/service/OpenRouterClient.h"
#include "core/service/ServiceCall.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

using fake::Reply;
using fake::replies::RateHeaders;

namespace {

const QString key = QStringLiteral("sk-or-v1-quota");
const QString model = QStringLiteral("vendor/small:free");

// What GET /key answers.
enum class Tier { free, bought, rejected, odd, oddDaily };

// Its "free_model_daily_requests": the limit, and the requests the website
// and other apps used today (the fake adds the probes it received).
struct Daily {
    int limit = 50;
    int elsewhere = 0;
};

} // namespace

Q_DECLARE_METATYPE(fake::Reply)
Q_DECLARE_METATYPE(Tier)
Q_DECLARE_METATYPE(std::optional<Daily>)

class FreeQuotaTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_fake.start()); }

    void init()
    {
        m_fake.reset();
        m_fake.clearRequests(); // the service's count of the day starts at nothing
        m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
        m_dir = std::make_unique<QTemporaryDir>();
        // The fake states resets at the real next midnight UTC; the test's
        // clock stands still before it.
        m_now = QDateTime::currentDateTimeUtc();
    }

    void cleanup() { m_client.reset(); }

    void summaryAndWarning_data()
    {
        QTest::addColumn<Tier>("tier");
        QTest::addColumn<std::optional<Daily>>("daily"); // nothing: an older answer without it
        QTest::addColumn<int>("counted"); // already in quota.json today
        QTest::addColumn<int>("probes"); // answered
        QTest::addColumn<std::optional<Reply>>("last"); // one more probe's answer
        QTest::addColumn<bool>("readAgain"); // /key once more at the end
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("warning");

        const std::optional<Daily> older;
        const std::optional<Reply> none;
        const QString resetLine = QStringLiteral("Free requests reset at 01:00.");
        QTest::newRow("free tier counts down")
            << Tier::free << older << 10 << 2 << none << false << "About 38 of 50 free requests left today"
            << "";
        QTest::newRow("few left") << Tier::free << older << 45 << 1 << none << false
                                  << "About 4 of 50 free requests left today"
                                  << "Only 4 free requests left today.";
        QTest::newRow("none left by the count") << Tier::free << older << 49 << 2 << none << false
                                                << "About 0 of 50 free requests left today" << resetLine;
        QTest::newRow("bought credits: only what was used")
            << Tier::bought << older << 10 << 2 << none << false << "12 free requests used today"
            << "";
        QTest::newRow("key rejected: unknown") << Tier::rejected << older << 0 << 0 << none << false << ""
                                               << "";
        QTest::newRow("odd key answer: unknown but counted")
            << Tier::odd << older << 0 << 1 << none << false << "1 free request used today"
            << "";
        QTest::newRow("odd day's numbers: the tier's limit")
            << Tier::oddDaily << older << 10 << 1 << none << false
            << "About 39 of 50 free requests left today"
            << "";
        QTest::newRow("daily limit in the error body")
            << Tier::free << older << 10 << 1 << std::optional(fake::replies::dailyLimit()) << false
            << "0 of 50 free requests left today" << resetLine;
        QTest::newRow("daily limit states the limit of a paying account")
            << Tier::bought << older << 10 << 1
            << std::optional(fake::replies::dailyLimit(true, RateHeaders::asResponseHeaders)) << false
            << "0 of 1000 free requests left today" << resetLine;
        QTest::newRow("per-minute numbers are not the day's")
            << Tier::free << older << 10 << 1
            << std::optional(fake::replies::minuteLimit({}, RateHeaders::both)) << false
            << "About 38 of 50 free requests left today"
            << "";

        // The service's count takes in the website and other apps; the
        // file's own count of the day no longer matters.
        QTest::newRow("few left by the service") << Tier::free << std::optional(Daily{ 50, 46 }) << 10 << 0
                                                 << none << false << "4 of 50 free requests left today"
                                                 << "Only 4 free requests left today.";
        QTest::newRow("less Tolvi's requests since the read")
            << Tier::free << std::optional(Daily{ 50, 10 }) << 0 << 2 << none << false
            << "About 38 of 50 free requests left today"
            << "";
        QTest::newRow("bought credits, yet 50 a day")
            << Tier::bought << std::optional(Daily{ 50, 0 }) << 0 << 1 << none << false
            << "About 49 of 50 free requests left today"
            << "";
        QTest::newRow("none left by the service: reset at midnight UTC")
            << Tier::free << std::optional(Daily{ 50, 57 }) << 0 << 0 << none << false
            << "0 of 50 free requests left today" << resetLine;
        QTest::newRow("a later daily limit replaces the read's numbers")
            << Tier::free << std::optional(Daily{ 50, 10 }) << 0 << 1
            << std::optional(fake::replies::dailyLimit(true, RateHeaders::asResponseHeaders)) << false
            << "0 of 1000 free requests left today" << resetLine;
        QTest::newRow("a later read replaces a daily limit's numbers")
            << Tier::free << std::optional(Daily{ 1000, 10 }) << 0 << 0
            << std::optional(fake::replies::dailyLimit()) << true << "989 of 1000 free requests left today"
            << "";
    }

    void summaryAndWarning()
    {
        QFETCH(Tier, tier);
        QFETCH(std::optional<Daily>, daily);
        QFETCH(int, counted);
        QFETCH(int, probes);
        QFETCH(std::optional<Reply>, last);
        QFETCH(bool, readAgain);
        QFETCH(QString, summary);
        QFETCH(QString, warning);
        if (counted > 0)
            QuotaFile{ m_now.date(), counted, std::nullopt, std::nullopt }.write(path());
        auto quota = makeQuota();

        answerKeyCheck(tier);
        if (daily)
            m_fake.setDailyRequests(daily->limit, daily->elsewhere);
        else
            m_fake.omitDailyRequests();
        QVERIFY(checkKey(*quota));
        for (int i = 0; i < probes; ++i)
            QVERIFY(probe());
        if (last) {
            m_fake.enqueueChat(model, *last);
            QVERIFY(probe());
        }
        if (readAgain)
            QVERIFY(checkKey(*quota));

        QCOMPARE(quota->summary().value_or(QString()), summary);
        const QTimeZone oneHourEast(3600);
        QCOMPARE(quota->warningIn(QLocale(QLocale::German), oneHourEast).value_or(QString()), warning);
    }

    void countOutlivesRestartButNotTheDay()
    {
        m_fake.setDailyRequests(50, 20);
        auto first = makeQuota();
        QVERIFY(checkKey(*first));
        for (int i = 0; i < 3; ++i)
            QVERIFY(probe());
        QCOMPARE(first->summary(), QStringLiteral("About 27 of 50 free requests left today"));
        QCOMPARE(first->serviceRemaining(), 30);
        first.reset();

        auto restarted = makeQuota();
        QCOMPARE(restarted->summary(), QStringLiteral("About 27 of 50 free requests left today"));
        m_fake.enqueueChat(model, fake::replies::dailyLimit());
        QVERIFY(probe());
        QCOMPARE(restarted->summary(), QStringLiteral("0 of 50 free requests left today"));
        restarted.reset();
        QCOMPARE(makeQuota()->summary(), QStringLiteral("0 of 50 free requests left today"));

        m_now = QDateTime(m_now.date().addDays(1), QTime(0, 1), Qt::UTC);
        auto nextDay = makeQuota();
        QCOMPARE(nextDay->summary(), QStringLiteral("About 50 of 50 free requests left today"));
        QCOMPARE(nextDay->warning(), std::nullopt);
        QCOMPARE(nextDay->serviceRemaining(), std::nullopt);
        QVERIFY(probe());
        nextDay.reset();
        QCOMPARE(makeQuota()->summary(), QStringLiteral("About 49 of 50 free requests left today"));
    }

    void malformedFileCountsNothing_data()
    {
        QTest::addColumn<QByteArray>("contents"); // %1: today
        QTest::addColumn<int>("counted");

        QTest::newRow("well formed") << QByteArray(R"({"day":"%1","count":3,"freeTier":false})") << 3;
        QTest::newRow("not JSON") << QByteArray("{\"day\":") << 0;
        QTest::newRow("an array") << QByteArray("[3]") << 0;
        QTest::newRow("count as text") << QByteArray(R"({"day":"%1","count":"3"})") << 0;
        QTest::newRow("negative count") << QByteArray(R"({"day":"%1","count":-3})") << 0;
        QTest::newRow("day not a date") << QByteArray(R"({"day":"yesterday","count":3})") << 0;
        QTest::newRow("stated not an object") << QByteArray(R"({"day":"%1","count":3,"stated":[0]})") << 0;
        QTest::newRow("stated without remaining")
            << QByteArray(R"({"day":"%1","count":3,"stated":{"limit":50,"atCount":3}})") << 0;
        QTest::newRow("stated without its time, as older files")
            << QByteArray(R"({"day":"%1","count":3,"stated":{"remaining":9,"atCount":3}})") << 3;
        QTest::newRow("stated time as text")
            << QByteArray(R"({"day":"%1","count":3,"stated":{"remaining":9,"atCount":3,"made":"noon"}})")
            << 0;
    }

    void malformedFileCountsNothing()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, counted);
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString::fromUtf8(contents).arg(m_now.date().toString(Qt::ISODate)).toUtf8());
        file.close();

        auto quota = makeQuota();
        quota->noteRequest();
        QCOMPARE(quota->summary(),
            QStringLiteral("%1 free %2 used today")
                .arg(counted + 1)
                .arg(counted == 0 ? "request" : "requests"));
        QCOMPARE(QuotaFile::read(path()).value_or(QuotaFile{}).count, counted + 1);
    }

    void forgettingRemovesTheFile()
    {
        auto quota = makeQuota();
        QVERIFY(checkKey(*quota));
        QVERIFY(probe());
        QVERIFY(QFile::exists(path()));
        m_fake.on("GET", "/api/v1/key", heldHead(Reply::json(200, QJsonObject{})));
        quota->checkKey(*m_client, key);
        quota->checkKey(*m_client, key); // would follow the first

        quota->forget();
        QVERIFY(!QFile::exists(path()));
        QCOMPARE(quota->summary(), std::nullopt);
        // An answer about the account signed out of is not taken, and
        // nothing follows it.
        QVERIFY(!quota->isCheckingKey());
        m_fake.releaseAll();
        QCOMPARE(makeQuota()->summary(), std::nullopt);
    }

private:
    QString path() const { return m_dir->filePath(QStringLiteral("quota.json")); }

    std::unique_ptr<FreeQuota> makeQuota()
    {
        auto quota = std::make_unique<FreeQuota>(path(), [this] { return m_now; });
        quota->listenTo(*m_client);
        return quota;
    }

    static Reply heldHead(Reply reply)
    {
        reply.holdHead = true;
        return reply;
    }

    void answerKeyCheck(Tier tier)
    {
        switch (tier) {
        case Tier::free:
            break;
        case Tier::bought:
            m_fake.setFreeTier(false);
            break;
        case Tier::rejected:
            m_fake.setValidKeys({ QStringLiteral("sk-or-v1-other") });
            m_fake.onAnyChat(Reply::stream(model, { "hi" })); // probes still answer
            break;
        case Tier::odd:
            m_fake.on("GET", "/api/v1/key",
                Reply::json(200, QJsonObject{ { "data", QJsonObject{ { "is_free_tier", "yes" } } } }));
            break;
        case Tier::oddDaily:
            m_fake.on("GET", "/api/v1/key",
                Reply::json(200,
                    QJsonObject{ { "data",
                        QJsonObject{ { "is_free_tier", true },
                            { "free_model_daily_requests",
                                QJsonObject{
                                    { "limit", "50" }, { "remaining", 3 }, { "used", 47 } } } } } }));
            break;
        }
    }

    bool checkKey(FreeQuota &quota)
    {
        quota.checkKey(*m_client, key);
        return testsupport::waitFor([&] { return !quota.isCheckingKey(); });
    }

    bool probe()
    {
        bool done = false;
        ProbeCall *call = m_client->probe(key, model);
        connect(call, &ProbeCall::finished, this, [&done] { done = true; });
        return testsupport::waitFor([&] { return done; });
    }

    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    std::unique_ptr<QTemporaryDir> m_dir;
    QDateTime m_now;
};

QTEST_GUILESS_MAIN(FreeQuotaTest)
#include "test_free_quota.moc"
