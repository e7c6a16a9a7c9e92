// Refreshes against the fake service over real sockets: which requests go
// out, in which phases, and what the ladder, the note and the cache become.
// Probe answers are ordered by releasing the fake's held steps round by
// round, never by racing the clock.
#include "RankerTestKit.h"
#include "TestSupport.h"
#include "core/ranker/ModelRanker.h"
#include "core/ranker/Ranking.h"
#include "core/util/DateCodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace rankerkit;
using testsupport::waitFor;

namespace {

const QString router = ModelRanker::routerId;
const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);
const QString key = QStringLiteral("sk-or-v1-test");
const QString dailyText
    = QStringLiteral("Rate limit exceeded: free-models-per-day. Add 10 credits to unlock 1000 "
                     "free model requests per day");
// A provider's 429: the model is busy, not the account.
const QString busyText = QStringLiteral("Provider returned error");

QString mid(int i)
{
    return QStringLiteral("v/m%1:free").arg(i, 2, 10, QLatin1Char('0'));
}

// Models named mid(i) with these context lengths, in this catalogue order.
QJsonArray catalogueOf(const QList<int> &contexts)
{
    QJsonArray data;
    for (int i = 0; i < contexts.size(); ++i)
        data.append(freeEntry(mid(i), contexts.at(i)));
    return data;
}

QStringList statsPaths(const fake::FakeService &fake)
{
    QStringList ids;
    for (const fake::Request &request : fake.requests("/api/v1/models/")) {
        QByteArray path = request.pathOnly().mid(int(qstrlen("/api/v1/models/")));
        path.chop(int(qstrlen("/endpoints")));
        ids.append(QString::fromUtf8(path));
    }
    return ids;
}

QStringList probedModels(const fake::FakeService &fake)
{
    QStringList models;
    for (const fake::Request &request : fake.chatRequests())
        models.append(request.model());
    return models;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct DoneRecord {
    int calls = 0;
    std::optional<ORError> error;
};

// Records what the request delivers into record.
void recordInto(RefreshRequest *request, DoneRecord &record)
{
    QObject::connect(request, &RefreshRequest::finished, [&record](const std::optional<ORError> &error) {
        ++record.calls;
        record.error = error;
    });
}

} // namespace

class RankerRefreshTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<fake::FakeService> m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    std::unique_ptr<ModelRanker> m_ranker;
    std::unique_ptr<ChatReplies> m_replies;

    QString cachePath() const { return m_ranker->cachePath(); }

    bool refreshed(bool force, DoneRecord &record, const QString &withKey = key)
    {
        recordInto(m_ranker->refresh(withKey, force), record);
        return waitFor([&record] { return record.calls > 0; });
    }

    // The ranker holds these models and this ladder, taken from a cache.
    void primeWith(const QList<ORModel> &models, const QStringList &ladder)
    {
        writeCache(cachePath(), t0, models, ladder);
        m_ranker->refresh(key, false);
        QCOMPARE(m_ranker->ladderIDs(), ladder);
    }

private Q_SLOTS:
    void init()
    {
        m_fake = std::make_unique<fake::FakeService>();
        QVERIFY(m_fake->start());
        m_client = std::make_unique<OpenRouterClient>(m_fake->origin());
        // Rounds of held steps may take a while on a loaded machine; no
        // probe may time out meanwhile unless a test says so.
        m_client->setProbeDeadline(120);
        m_replies = std::make_unique<ChatReplies>(m_client->network());
        m_ranker = std::make_unique<ModelRanker>(*m_client);
        m_ranker->setClock([] { return t0; });
        QFile::remove(cachePath());
    }

    void cleanup()
    {
        m_ranker.reset();
        m_replies.reset();
        m_client.reset();
        m_fake.reset();
    }

    void twentyModelsGiveTheMeasuredLadder()
    {
        const QList<int> contexts{ 4000, 128000, 8000, 32000, 64000, 16000, 200000, 2000, 32000, 131072, 1000,
            65536, 163840, 4096, 32000, 262144, 8192, 40960, 32000, 32000 };
        m_fake->setCatalogue(catalogueOf(contexts));
        // The pool: the twelve largest contexts; of the five at 32000 the
        // first four in catalogue order, so m19 is out despite its figures.
        const QStringList pool{ mid(15), mid(6), mid(12), mid(9), mid(1), mid(11), mid(4), mid(17), mid(3),
            mid(8), mid(14), mid(18) };
        const QList<std::tuple<int, double, double>> figures{ { 3, 99.5, 800 }, { 11, 80, 500 },
            { 8, 100, 900 }, { 17, 100, 300 }, { 12, 99, 1000 }, { 15, 50, 100 }, { 6, 100, 2000 },
            { 1, 99, 1200 }, { 14, 10, 100 }, { 18, 100, 3000 }, { 19, 100, 10 } };
        for (const auto &[i, uptime, latency] : figures)
            m_fake->setStats(mid(i), statsBody(uptime, latency));
        // Scores: m17 300, m15 800, m03 812, m08 900 | m11 977, m12 1031,
        // m01 1237 | the rest. m04 and m09 have no statistics.
        m_fake->onChat(mid(8), probeSuccess(mid(8), 1));
        m_fake->onChat(mid(15), probeFailure(fake::Reply::error(429, busyText), 2));
        m_fake->onChat(mid(3), probeSuccess(mid(3), 3));
        m_fake->onChat(mid(17), probeSuccess(mid(17), 4));

        QList<QStringList> ladderWhenModelsChanged;
        connect(m_ranker.get(), &ModelRanker::freeModelsChanged, this,
            [&] { ladderWhenModelsChanged.append(m_ranker->ladderIDs()); });
        QSignalSpy ladderChanged(m_ranker.get(), &ModelRanker::ladderIDsChanged);
        QSignalSpy refreshing(m_ranker.get(), &ModelRanker::isRefreshingChanged);
        DoneRecord done;
        recordInto(m_ranker->refresh(key, true), done);
        QVERIFY(m_ranker->isRefreshing());
        QVERIFY(runProbeRounds(*m_fake, *m_replies, 4));
        QVERIFY(waitFor([&] { return done.calls > 0; }));

        QCOMPARE(done.calls, 1);
        QCOMPARE(done.error, std::nullopt);
        QStringList asked = statsPaths(*m_fake);
        asked.sort();
        QStringList expectedPool = pool;
        expectedPool.sort();
        QCOMPARE(asked, expectedPool);
        QStringList probed = probedModels(*m_fake);
        probed.sort();
        QCOMPARE(probed, (QStringList{ mid(3), mid(8), mid(15), mid(17) }));
        for (const fake::Request &request : m_fake->requests())
            QCOMPARE(request.bearer(), key);

        const QStringList ladder{ mid(8), mid(3), mid(17), mid(11), mid(12), mid(1), router };
        QCOMPARE(m_ranker->ladderIDs(), ladder);
        QCOMPARE(m_ranker->freeModels().size(), 20);
        QCOMPARE(m_ranker->freeModels().at(15), (ORModel{ mid(15), mid(15), 262144, false }));
        QCOMPARE(m_ranker->note(), std::nullopt);
        QVERIFY(!m_ranker->isRefreshing());
        QCOMPARE(refreshing.size(), 2);
        QCOMPARE(ladderWhenModelsChanged, QList<QStringList>{ QStringList{ router } });
        QCOMPARE(ladderChanged.size(), 1);

        const QJsonObject cache = readJsonFile(cachePath());
        QCOMPARE(cache.value("fetched").toDouble(), DateCodec::toReferenceSeconds(t0));
        QCOMPARE(cache.value("models").toArray().size(), 20);
        QCOMPARE(cache.value("models").toArray().at(15).toObject(), m_ranker->freeModels().at(15).toJson());
        QCOMPARE(cache.value("ladder").toArray(), QJsonArray::fromStringList(ladder));
    }

    // All statistics requests go out together, and no probe before every
    // statistics answer is in.
    void statisticsRunTogetherBeforeAnyProbe()
    {
        QList<int> contexts;
        for (int i = 0; i < 14; ++i)
            contexts.append(1000 * (i + 1));
        m_fake->setCatalogue(catalogueOf(contexts));
        m_fake->setResponder([](const fake::Request &request) -> std::optional<fake::Reply> {
            if (!request.path.endsWith("/endpoints"))
                return std::nullopt;
            fake::Reply reply = fake::Reply::json(200, statsBody(99, 500));
            reply.holdHead = true;
            return reply;
        });
        DoneRecord done;
        recordInto(m_ranker->refresh(key, true), done);
        // The client runs at most six connections to one host; a ranker that
        // asked one model after another would have one waiting here.
        QVERIFY(waitFor([&] { return m_fake->heldSteps() == 6; }));
        int running = 0;
        for (QNetworkReply *reply : m_client->network().findChildren<QNetworkReply *>())
            running += reply->isRunning() && reply->url().path().endsWith("/endpoints") ? 1 : 0;
        QCOMPARE(running, 12);
        QVERIFY(m_fake->chatRequests().isEmpty());

        for (int answered = 1; answered <= 12; ++answered) {
            QVERIFY(waitFor([&] { return m_fake->heldSteps() > 0; }));
            QVERIFY(m_fake->chatRequests().isEmpty());
            m_fake->release();
        }
        QVERIFY(waitFor([&] { return done.calls > 0; }));
        QCOMPARE(statsPaths(*m_fake).size(), 12);
        QCOMPARE(m_fake->chatRequests().size(), 4);
    }

    void allProbesFailing_data()
    {
        QTest::addColumn<QList<fake::Reply>>("failures"); // in order of arrival
        QTest::addColumn<QString>("note");
        const fake::Reply daily = fake::Reply::error(429, dailyText);
        const fake::Reply busy = fake::Reply::error(429, busyText, QByteArray("30"));
        const fake::Reply provider = fake::Reply::error(502, "Provider returned error");
        QTest::newRow("daily first") << QList<fake::Reply>{ daily, busy, provider, busy }
                                     << Ranking::dailyLimitNote;
        QTest::newRow("busy first, daily later")
            << QList<fake::Reply>{ busy, daily, daily, daily } << Ranking::untestedNote;
        QTest::newRow("provider first, daily later")
            << QList<fake::Reply>{ provider, daily, daily, daily } << Ranking::untestedNote;
    }

    void allProbesFailing()
    {
        QFETCH(QList<fake::Reply>, failures);
        QFETCH(QString, note);
        // Seven models: four probed, three that would be the reserve.
        m_fake->setCatalogue(catalogueOf({ 7000, 6000, 5000, 4000, 3000, 2000, 1000 }));
        // Without statistics the scores tie and the best four are m00..m03;
        // their answers arrive in the order of the table, m03's first.
        for (int i = 0; i < 4; ++i)
            m_fake->onChat(mid(3 - i), probeFailure(failures.at(i), i + 1));
        DoneRecord done;
        recordInto(m_ranker->refresh(key, true), done);
        QVERIFY(runProbeRounds(*m_fake, *m_replies, 4));
        QVERIFY(waitFor([&] { return done.calls > 0; }));

        QCOMPARE(done.error, std::nullopt);
        QCOMPARE(m_ranker->ladderIDs(), QStringList{ router });
        QCOMPARE(m_ranker->note(), std::optional<QString>(note));
        QCOMPARE(m_ranker->freeModels().size(), 7);
        const QJsonObject cache = readJsonFile(cachePath());
        QCOMPARE(cache.value("ladder").toArray(), QJsonArray{ router });
        QCOMPARE(cache.value("models").toArray().size(), 7);
    }

    void emptyCatalogueLeavesTheRouter()
    {
        m_fake->setCatalogue({});
        QSignalSpy noteChanged(m_ranker.get(), &ModelRanker::noteChanged);
        DoneRecord done;
        QVERIFY(refreshed(true, done));
        QCOMPARE(done.error, std::nullopt);
        QCOMPARE(m_ranker->ladderIDs(), QStringList{ router });
        QCOMPARE(m_ranker->note(), std::optional<QString>(Ranking::untestedNote));
        QCOMPARE(noteChanged.size(), 1);
        QCOMPARE(m_fake->requests().size(), 1);
        const QJsonObject cache = readJsonFile(cachePath());
        QCOMPARE(cache.value("models").toArray(), QJsonArray());
        QCOMPARE(cache.value("ladder").toArray(), QJsonArray{ router });
    }

    void silentProbeTimesOut()
    {
        // The silent model never answers at all; the others answer in
        // milliseconds, far within the deadline even on a loaded machine.
        m_client->setProbeDeadline(2.0);
        m_fake->setCatalogue(catalogueOf({ 5000, 4000, 3000, 2000, 1000 }));
        m_fake->onChat(mid(1), silentProbe());
        m_fake->onChat(mid(2), fake::Reply::error(404, "No endpoints found for v/m02:free."));
        m_fake->onChat(mid(3), fake::Reply::error(404, "No endpoints found for v/m03:free."));
        DoneRecord done;
        QVERIFY(refreshed(true, done));
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ mid(0), mid(4), router }));
        QCOMPARE(m_ranker->note(), std::nullopt);
    }

    void rejectedKey_data()
    {
        QTest::addColumn<bool>("byProbe");
        QTest::newRow("catalogue answers 401") << false;
        QTest::newRow("a probe answers 401") << true;
    }

    void rejectedKey()
    {
        QFETCH(bool, byProbe);
        const ORModel old{ "old/model:free", "Old", 8000, false };
        primeWith({ old }, { old.id, router });
        const QByteArray cacheBefore = fileBytes(cachePath());
        m_fake->setCatalogue(catalogueOf({ 3000, 2000, 1000 }));
        if (byProbe)
            m_fake->onChat(mid(1), fake::Reply::error(401, "User not found."));
        else
            m_fake->on("GET", "/api/v1/models", fake::Reply::error(401, "User not found."));
        QSignalSpy noteChanged(m_ranker.get(), &ModelRanker::noteChanged);
        QSignalSpy ladderChanged(m_ranker.get(), &ModelRanker::ladderIDsChanged);

        DoneRecord done;
        QVERIFY(refreshed(true, done));
        QCOMPARE(done.calls, 1);
        QCOMPARE(done.error, ORError::unauthorized("User not found."));
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ old.id, router }));
        QCOMPARE(ladderChanged.size(), 0);
        QCOMPARE(m_ranker->note(), std::nullopt);
        QCOMPARE(noteChanged.size(), 0);
        QVERIFY(!m_ranker->isRefreshing());
        QCOMPARE(fileBytes(cachePath()), cacheBefore);
        // The catalogue had come in before the probes found the key rejected.
        QCOMPARE(ids(m_ranker->freeModels()),
            byProbe ? (QStringList{ mid(0), mid(1), mid(2) }) : QStringList{ old.id });
    }

    void catalogueFailure_data()
    {
        QTest::addColumn<fake::Reply>("reply");
        QTest::addColumn<QString>("note");
        const QString prefix = QStringLiteral("Couldn't update the model list. ");
        QTest::newRow("provider failure") << fake::Reply::error(503, "Service temporarily unavailable")
                                          << prefix + "The model's provider had a problem (status 503).";
        QTest::newRow("unexpected shape") << fake::Reply::json(200, QJsonObject{ { "data", QJsonObject{} } })
                                          << prefix + "OpenRouter sent a model list in an unexpected format.";
        QTest::newRow("daily limit") << fake::Reply::error(429, dailyText)
                                     << prefix
                + "Daily free limit reached; it resets at midnight UTC, or add "
                  "credits at openrouter.ai.";
    }

    void catalogueFailure()
    {
        QFETCH(fake::Reply, reply);
        QFETCH(QString, note);
        const ORModel old{ "old/model:free", "Old", 8000, false };
        primeWith({ old }, { old.id, router });
        const QByteArray cacheBefore = fileBytes(cachePath());
        m_fake->on("GET", "/api/v1/models", reply);
        DoneRecord done;
        QVERIFY(refreshed(true, done));
        QCOMPARE(done.error, std::nullopt);
        QCOMPARE(m_ranker->note(), std::optional<QString>(note));
        QCOMPARE(m_ranker->freeModels(), QList<ORModel>{ old });
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ old.id, router }));
        QVERIFY(!m_ranker->isRefreshing());
        QCOMPARE(fileBytes(cachePath()), cacheBefore);
        QCOMPARE(m_fake->requests().size(), 1);

        // The next refresh starts without the old note.
        m_fake->reset();
        m_fake->setCatalogue({});
        QSignalSpy noteChanged(m_ranker.get(), &ModelRanker::noteChanged);
        m_ranker->refresh(key, true);
        QCOMPARE(m_ranker->note(), std::nullopt);
        QCOMPARE(noteChanged.size(), 1);
        QVERIFY(waitFor([&] { return !m_ranker->isRefreshing(); }));
    }

    void cache_data()
    {
        QTest::addColumn<QJsonObject>("file");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("used");
        auto file = [](qint64 ageSeconds, const QStringList &ladder, const QList<ORModel> &models) {
            QJsonArray array;
            for (const ORModel &model : models)
                array.append(model.toJson());
            return QJsonObject{ { "fetched", DateCodec::toReferenceSeconds(t0.addSecs(-ageSeconds)) },
                { "models", array }, { "ladder", QJsonArray::fromStringList(ladder) } };
        };
        const ORModel cached{ "cached/model:free", "Cached", 16000, true };
        const QStringList ladder{ cached.id, router };
        QJsonObject extra = file(60, ladder, { cached });
        extra.insert("version", 2);
        QJsonObject missing = file(60, ladder, { cached });
        missing.remove("models");

        QTest::newRow("899 s old") << file(899, ladder, { cached }) << false << true;
        QTest::newRow("900 s old") << file(900, ladder, { cached }) << false << false;
        QTest::newRow("from the future") << file(-86400, ladder, { cached }) << false << true;
        QTest::newRow("empty ladder") << file(10, {}, { cached }) << false << false;
        QTest::newRow("router alone, no models") << file(10, { router }, {}) << false << true;
        QTest::newRow("unknown member") << extra << false << true;
        QTest::newRow("member missing") << missing << false << false;
        QTest::newRow("fresh but forced") << file(10, ladder, { cached }) << true << false;
    }

    void cache()
    {
        QFETCH(QJsonObject, file);
        QFETCH(bool, force);
        QFETCH(bool, used);
        {
            QFile out(cachePath());
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QJsonDocument(file).toJson(QJsonDocument::Compact));
        }
        m_fake->setCatalogue(QJsonArray{ freeEntry("net/model:free", 4000) });
        QSignalSpy refreshing(m_ranker.get(), &ModelRanker::isRefreshingChanged);
        DoneRecord done;
        recordInto(m_ranker->refresh(key, force), done);
        if (used) {
            // Taken at once; the request still finishes from the event loop.
            QCOMPARE(QJsonArray::fromStringList(m_ranker->ladderIDs()), file.value("ladder").toArray());
            QCOMPARE(m_ranker->freeModels().size(), file.value("models").toArray().size());
            QCOMPARE(done.calls, 0);
            QVERIFY(waitFor([&] { return done.calls > 0; }));
            QCOMPARE(done.error, std::nullopt);
            QCOMPARE(refreshing.size(), 0);
            QTest::qWait(50); // room for a stray request to show
            QCOMPARE(m_fake->requests().size(), 0);
        } else {
            QVERIFY(waitFor([&] { return done.calls > 0; }));
            QCOMPARE(m_ranker->ladderIDs(), (QStringList{ "net/model:free", router }));
            QVERIFY(!m_fake->requests().isEmpty());
        }
    }

    // A second request while a refresh runs finishes with nothing; a
    // cancelled request hears nothing while its refresh goes on.
    void requestsOfARunningRefresh()
    {
        fake::Reply held = fake::Reply::json(200, QJsonObject{ { "data", catalogueOf({ 1000 }) } });
        held.holdHead = true;
        m_fake->on("GET", "/api/v1/models", held);
        DoneRecord first;
        const QPointer<RefreshRequest> firstRequest = m_ranker->refresh(key, true);
        recordInto(firstRequest, first);
        QVERIFY(waitFor([&] { return m_fake->heldSteps() == 1; }));

        QSignalSpy models(m_ranker.get(), &ModelRanker::freeModelsChanged);
        QSignalSpy refreshing(m_ranker.get(), &ModelRanker::isRefreshingChanged);
        DoneRecord second;
        recordInto(m_ranker->refresh(key, true), second);
        QVERIFY(waitFor([&] { return second.calls > 0; }));
        QCOMPARE(second.error, std::nullopt);
        QCOMPARE(models.size(), 0);
        QCOMPARE(refreshing.size(), 0);
        QVERIFY(m_ranker->isRefreshing());

        firstRequest->cancel();
        QVERIFY(testsupport::waitForDeletion(firstRequest));
        m_fake->release();
        QVERIFY(waitFor([&] { return !m_ranker->isRefreshing(); }));
        QCOMPARE(m_fake->requests("/api/v1/models").size() - statsPaths(*m_fake).size(), 1);
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ mid(0), router }));
        QCOMPARE(first.calls, 0);
        QCOMPARE(second.calls, 1);
    }

    // Signing out while a refresh runs: the refresh measured with the old key
    // must not publish anything, write the cache, or keep isRefreshing set.
    void resetDuringRefresh_data()
    {
        QTest::addColumn<QString>("phase");
        // How many requests that phase sends at once, all held.
        QTest::addColumn<int>("held");
        QTest::newRow("catalogue") << "catalogue" << 1;
        QTest::newRow("statistics") << "statistics" << 3;
        QTest::newRow("probes") << "probes" << 3;
        QTest::newRow("by a listener of the new models") << "listener" << 0;
    }

    void resetDuringRefresh()
    {
        QFETCH(QString, phase);
        QFETCH(int, held);
        m_fake->setCatalogue(catalogueOf({ 3000, 2000, 1000 }));
        m_fake->setResponder([phase](const fake::Request &request) -> std::optional<fake::Reply> {
            const bool stats = request.path.endsWith("/endpoints");
            const bool held = (phase == "catalogue" && request.pathOnly() == "/api/v1/models")
                || (phase == "statistics" && stats) || (phase == "probes" && request.method == "POST");
            if (!held)
                return std::nullopt;
            fake::Reply reply = request.method == "POST"
                ? fake::Reply::stream(request.model(), { "Hi" })
                : fake::Reply::json(200,
                    stats ? statsBody(99, 500)
                          : QJsonObject{ { "data", catalogueOf({ 3000, 2000, 1000 }) } });
            reply.holdHead = true;
            return reply;
        });
        QMetaObject::Connection listener;
        if (phase == "listener") {
            listener = connect(m_ranker.get(), &ModelRanker::freeModelsChanged, this, [this, &listener] {
                disconnect(listener);
                m_ranker->reset();
            });
        }
        DoneRecord oldDone;
        recordInto(m_ranker->refresh(QStringLiteral("old-key"), true), oldDone);
        if (phase == "listener") {
            QVERIFY(waitFor([&] { return !m_ranker->isRefreshing(); }));
            QVERIFY(statsPaths(*m_fake).isEmpty()); // stopped before measuring
        } else {
            // Every request of the phase has arrived: one still on its way
            // when the ranker resets would count as asked afterwards.
            QVERIFY(waitFor([&] { return m_fake->heldSteps() == held; }));
            m_ranker->reset();
            QVERIFY(!m_ranker->isRefreshing());
        }

        QSignalSpy ladder(m_ranker.get(), &ModelRanker::ladderIDsChanged);
        QSignalSpy models(m_ranker.get(), &ModelRanker::freeModelsChanged);
        QSignalSpy note(m_ranker.get(), &ModelRanker::noteChanged);
        QVERIFY(waitFor([&] { return oldDone.calls > 0; }));
        QCOMPARE(oldDone.error, std::nullopt);
        const qsizetype asked = m_fake->requests().size();
        // The cancelled refresh cancelled its calls: the client hung up on the
        // held replies.
        if (phase != "listener")
            QVERIFY(waitFor([&] { return m_fake->clientCloses() > 0; }));
        // Let whatever is still held go; nothing may reach the ranker.
        m_fake->releaseAll();
        QVERIFY(waitFor([&] { return m_fake->openConnections() == 0; }));
        QTest::qWait(50);
        QCOMPARE(m_fake->requests().size(), asked);
        QCOMPARE(ladder.size() + models.size() + note.size(), 0);
        QCOMPARE(m_ranker->ladderIDs(), QStringList{ router });
        QVERIFY(m_ranker->freeModels().isEmpty());
        QVERIFY(!QFile::exists(cachePath()));
        QCOMPARE(oldDone.calls, 1);

        // The next sign-in refreshes at once, with its own key.
        m_fake->reset();
        m_fake->setCatalogue(QJsonArray{ freeEntry("new/model:free", 4000) });
        DoneRecord newDone;
        QVERIFY(refreshed(true, newDone, QStringLiteral("new-key")));
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ "new/model:free", router }));
        QCOMPARE(m_fake->requests().last().bearer(), QStringLiteral("new-key"));
        QCOMPARE(oldDone.calls, 1);
    }
};

QTEST_GUILESS_MAIN(RankerRefreshTest)
#include "test_ranker_refresh.moc"
