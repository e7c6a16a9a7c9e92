// The ranker's pure parts: score, pool, ladder plan, cache file, candidates
// and cooling. No request is made here; state comes in through the cache.
#include "RankerTestKit.h"
#include "core/ranker/ModelRanker.h"
#include "core/ranker/RankerCache.h"
#include "core/ranker/Ranking.h"
#include "core/util/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <limits>
#include <sys/resource.h>

using namespace rankerkit;

namespace {

const QString router = ModelRanker::routerId;
const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);

ORModel m(const QString &id, int context, bool images = false)
{
    return ORModel{ id, id.toUpper(), context, images };
}

std::optional<EndpointStats> stats(std::optional<double> uptime, std::optional<double> latency)
{
    return EndpointStats{ uptime, latency };
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A disk that fills up: for as long as it lives, a write past this many bytes
// of a file fails with EFBIG, where it would otherwise end the process.
struct FileSizeLimit {
    static constexpr rlim_t bytes = 2 * 1024;

    FileSizeLimit()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }

    rlimit saved{};
};

} // namespace

class RankerLogicTest : public QObject
{
    Q_OBJECT

private:
    OpenRouterClient m_client{ QStringLiteral("http://127.0.0.1:9") };
    QTemporaryDir m_dir;
    QString cachePath() const { return m_dir.filePath(QStringLiteral("models-cache.json")); }

    // A ranker whose models and ladder came from a fresh cache.
    std::unique_ptr<ModelRanker> rankerWith(const QList<ORModel> &models, const QStringList &ladder)
    {
        writeCache(cachePath(), t0, models, ladder);
        auto ranker = std::make_unique<ModelRanker>(m_client, cachePath());
        ranker->setClock([] { return t0; });
        ranker->refresh(QStringLiteral("key"), false);
        return ranker;
    }

private Q_SLOTS:
    void init() { QFile::remove(cachePath()); }

    void score_data()
    {
        QTest::addColumn<std::optional<EndpointStats>>("input");
        QTest::addColumn<double>("expected");
        QTest::newRow("no statistics") << std::optional<EndpointStats>() << 3000 / (0.9 * 0.9 * 0.9);
        QTest::newRow("empty statistics") << stats({}, {}) << 3000 / (0.9 * 0.9 * 0.9);
        QTest::newRow("latency only") << stats({}, 800) << 800 / (0.9 * 0.9 * 0.9);
        QTest::newRow("uptime only") << stats(50, {}) << 3000 / 0.125;
        QTest::newRow("both") << stats(100, 450) << 450.0;
        QTest::newRow("uptime floored at 5 %") << stats(1, 100) << 100 / (0.05 * 0.05 * 0.05);
        QTest::newRow("zero uptime") << stats(0, 100) << 100 / (0.05 * 0.05 * 0.05);
    }

    void score()
    {
        QFETCH(std::optional<EndpointStats>, input);
        QFETCH(double, expected);
        QCOMPARE(Ranking::score(input), expected);
    }

    void scoreWeighsReliabilityOverSpeed()
    {
        QVERIFY(Ranking::score(stats(99.5, 800)) < Ranking::score(stats(80, 500)));
    }

    void poolKeepsTwelveLargestContextsStably()
    {
        QList<ORModel> models;
        for (int i = 0; i < 20; ++i)
            models.append(m(QStringLiteral("m%1").arg(i), 1000 * (i % 7)));
        const QStringList pooled = ids(Ranking::pool(models));
        // 6000: m6 m13; 5000: m5 m12 m19; 4000: m4 m11 m18; 3000: m3 m10 m17; 2000: m2 ...
        QCOMPARE(pooled,
            (QStringList{ "m6", "m13", "m5", "m12", "m19", "m4", "m11", "m18", "m3", "m10", "m17", "m2" }));
        QCOMPARE(Ranking::pool(models.mid(0, 3)).size(), 3);
    }

    void byScoreIsStable()
    {
        const QList<ORModel> pool{ m("a", 1), m("b", 1), m("c", 1), m("d", 1) };
        const QHash<QString, EndpointStats> measured{ { "c", { 99.5, 800 } }, { "d", { 80, 500 } } };
        // a and b have no statistics and tie; they keep their order.
        QCOMPARE(ids(Ranking::byScore(pool, measured)), (QStringList{ "c", "d", "a", "b" }));
    }

    void plan_data()
    {
        using Successes = QList<Ranking::ProbeSuccess>;
        QTest::addColumn<Successes>("successes");
        QTest::addColumn<QList<ORError>>("failures");
        QTest::addColumn<QStringList>("unmeasured");
        QTest::addColumn<QStringList>("ladder");
        QTest::addColumn<std::optional<QString>>("note");
        const ORError daily = ORError::rateLimited("free-models-per-day", {}, true);
        const ORError busy = ORError::rateLimited("Provider returned error", 20, false);
        const ORError minute = ORError::minuteLimit("free-models-per-min", 20);
        const ORError privacy = ORError::privacyExcluded("data policy");

        QTest::newRow("sorted by time, reserve after")
            << Successes{ { "slow", 2.0 }, { "fast", 0.5 }, { "mid", 1.0 } }
            << QList<ORError>{ ORError::timeout() } << QStringList{}
            << QStringList{ "fast", "mid", "slow", "r1", "r2", "r3", router } << std::optional<QString>();
        QTest::newRow("equal times keep arrival order")
            << Successes{ { "b", 1.0 }, { "a", 1.0 }, { "c", 0.5 } } << QList<ORError>{} << QStringList{}
            << QStringList{ "c", "b", "a", "r1", "r2", "r3", router } << std::optional<QString>();
        QTest::newRow("first failure daily")
            << Successes{} << QList<ORError>{ daily, busy, busy, busy } << QStringList{}
            << QStringList{ router } << std::optional<QString>(Ranking::dailyLimitNote);
        QTest::newRow("daily only later")
            << Successes{} << QList<ORError>{ busy, daily, daily, daily } << QStringList{}
            << QStringList{ router } << std::optional<QString>(Ranking::untestedNote);
        QTest::newRow("first failure a time-out")
            << Successes{} << QList<ORError>{ ORError::timeout(), daily } << QStringList{}
            << QStringList{ router } << std::optional<QString>(Ranking::untestedNote);
        QTest::newRow("the account's minute was full: measured first, then the others")
            << Successes{ { "b", 1.0 } } << QList<ORError>{ minute, minute } << QStringList{ "a", "c" }
            << QStringList{ "b", "a", "c", "r1", "r2", "r3", router } << std::optional<QString>();
        QTest::newRow("only the minute: nothing measured, nothing dropped")
            << Successes{} << QList<ORError>{ minute, minute } << QStringList{ "a", "c" }
            << QStringList{ "a", "c", "r1", "r2", "r3", router } << std::optional<QString>();
        QTest::newRow("privacy settings exclude every free model")
            << Successes{} << QList<ORError>{ privacy, privacy } << QStringList{} << QStringList{ router }
            << std::optional<QString>(Ranking::privacyNote);
        QTest::newRow("nothing probed")
            << Successes{} << QList<ORError>{} << QStringList{} << QStringList{ router }
            << std::optional<QString>(Ranking::untestedNote);
    }

    void plan()
    {
        QFETCH(QList<Ranking::ProbeSuccess>, successes);
        QFETCH(QList<ORError>, failures);
        QFETCH(QStringList, unmeasured);
        QFETCH(QStringList, ladder);
        QFETCH(std::optional<QString>, note);
        const Ranking::LadderPlan result
            = Ranking::plan(successes, failures, { "r1", "r2", "r3" }, router, unmeasured);
        QCOMPARE(result.ladder, ladder);
        QCOMPARE(result.note, note);
    }

    void firstRejection()
    {
        const QList<ORError> failures{ ORError::timeout(), ORError::unauthorized("first"),
            ORError::unauthorized("second") };
        QCOMPARE(Ranking::firstRejection(failures), ORError::unauthorized("first"));
        QCOMPARE(Ranking::firstRejection({ ORError::timeout() }), std::nullopt);
    }

    // ---- cache file ---------------------------------------------------------

    void cacheDecode_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        const QByteArray model
            = R"({"id":"a/b:free","name":"B","contextLength":8000,"supportsImages":false})";
        QTest::newRow("complete") << R"({"fetched":800000000.25,"models":[)" + model
                + R"(],"ladder":["a/b:free","openrouter/free"],"probeSeconds":{"a/b:free":0.5},)"
                  R"("uptimes":{"a/b:free":99}})"
                                  << true;
        QTest::newRow("without measurements, as written before they were kept")
            << R"({"fetched":800000000.25,"models":[)" + model
                + R"(],"ladder":["a/b:free","openrouter/free"]})"
            << true;
        QTest::newRow("measurements of another type")
            << QByteArray(R"({"fetched":1,"models":[],"ladder":[],"probeSeconds":[1],"uptimes":{"a":"99"}})")
            << true;
        QTest::newRow("unknown member")
            << QByteArray(R"({"fetched":1,"models":[],"ladder":[],"version":3})") << true;
        QTest::newRow("no fetched") << QByteArray(R"({"models":[],"ladder":[]})") << false;
        QTest::newRow("no models") << QByteArray(R"({"fetched":1,"ladder":["openrouter/free"]})") << false;
        QTest::newRow("no ladder") << QByteArray(R"({"fetched":1,"models":[]})") << false;
        QTest::newRow("fetched as text") << QByteArray(R"({"fetched":"1","models":[],"ladder":[]})") << false;
        QTest::newRow("fetched as bool")
            << QByteArray(R"({"fetched":true,"models":[],"ladder":[]})") << false;
        QTest::newRow("models an object") << QByteArray(R"({"fetched":1,"models":{},"ladder":[]})") << false;
        QTest::newRow("model lacks a member")
            << QByteArray(R"({"fetched":1,"models":[{"id":"a","name":"A","contextLength":1}],"ladder":[]})")
            << false;
        QTest::newRow("ladder holds a number")
            << QByteArray(R"({"fetched":1,"models":[],"ladder":["a",2]})") << false;
        QTest::newRow("top level array") << QByteArray(R"([{"fetched":1,"models":[],"ladder":[]}])") << false;
        QTest::newRow("not JSON") << QByteArray("{\"fetched\":1,") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void cacheDecode()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(RankerCache::decode(json).has_value(), decodes);
    }

    void cacheRoundTrip()
    {
        const RankerCache cache{ t0.addMSecs(250), { m("a/b:free", 8000), m("c/d:free", 16000, true) },
            { "c/d:free", "a/b:free", router }, { { "c/d:free", 0.25 } },
            { { "c/d:free", 99.5 }, { "e", 50 } } };
        cache.write(cachePath());
        const std::optional<RankerCache> back = RankerCache::read(cachePath());
        QVERIFY(back);
        QCOMPARE(back->fetched, cache.fetched);
        QCOMPARE(back->models, cache.models);
        QCOMPARE(back->ladder, cache.ladder);
        QCOMPARE(back->probeSeconds, cache.probeSeconds);
        QCOMPARE(back->uptimes, cache.uptimes);
        const QJsonObject root = readJsonFile(cachePath());
        QCOMPARE(root.value("fetched").toDouble(), 1780000000.25 - 978307200.0);
        RankerCache::remove(cachePath());
        QVERIFY(!QFile::exists(cachePath()));
        RankerCache::remove(cachePath()); // a missing file is no error
        QVERIFY(!RankerCache::read(cachePath()));
    }

    void fullDiskKeepsTheOldCache_data()
    {
        QTest::addColumn<int>("models");
        // A file's buffer takes the whole of a small cache: the disk's refusal
        // shows only when the buffer is flushed.
        QTest::newRow("smaller than a buffer") << 40;
        QTest::newRow("larger than any buffer") << 2000;
    }
    void fullDiskKeepsTheOldCache()
    {
        QFETCH(int, models);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("models-cache.json"));
        RankerCache{ t0, { m("a/b:free", 8000) }, { "a/b:free", router } }.write(path);
        const QByteArray old = contentsOf(path);
        QVERIFY(RankerCache::decode(old));

        QList<ORModel> catalogue;
        for (int i = 0; i < models; ++i)
            catalogue.append(m(QStringLiteral("vendor/model-%1:free").arg(i), 8000 + i));
        const RankerCache next{ t0.addSecs(60), catalogue, { router } };
        QVERIFY(next.encode().size() > qsizetype(FileSizeLimit::bytes));
        {
            const FileSizeLimit full;
            next.write(path);
        }
        QCOMPARE(contentsOf(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{ "models-cache.json" });
    }

    void cacheFreshness_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<QStringList>("ladder");
        QTest::addColumn<bool>("fresh");
        QTest::newRow("899 s") << 899000LL << QStringList{ router } << true;
        QTest::newRow("900 s") << 900000LL << QStringList{ router } << false;
        QTest::newRow("an hour") << 3600000LL << QStringList{ "a", router } << false;
        QTest::newRow("in the future") << -3600000LL << QStringList{ router } << true;
        QTest::newRow("empty ladder") << 1000LL << QStringList{} << false;
    }

    void cacheFreshness()
    {
        QFETCH(qint64, ageMs);
        QFETCH(QStringList, ladder);
        QFETCH(bool, fresh);
        QCOMPARE((RankerCache{ t0.addMSecs(-ageMs), {}, ladder }.isFresh(t0)), fresh);
    }

    void defaultCachePathIsInTheAppDirectory()
    {
        ModelRanker ranker(m_client);
        QCOMPARE(ranker.cachePath(), AppPaths::dir() + "/models-cache.json");
    }

    // ---- candidates ------------------------------------------------------------

    void candidates_data()
    {
        QTest::addColumn<std::optional<QString>>("pinned");
        QTest::addColumn<bool>("needsImages");
        QTest::addColumn<QStringList>("excluding");
        QTest::addColumn<QStringList>("cooled");
        QTest::addColumn<QStringList>("expected");
        const std::optional<QString> none;
        const QStringList nothing;

        QTest::newRow("the ladder, then the router")
            << none << false << nothing << nothing << QStringList{ "a", "b", "c", router };
        QTest::newRow("pinned first and once") << std::optional<QString>("c") << false << nothing << nothing
                                               << QStringList{ "c", "a", "b", router };
        QTest::newRow("pinned outside the ladder") << std::optional<QString>("v4") << false << nothing
                                                   << nothing << QStringList{ "v4", "a", "b", "c", router };
        QTest::newRow("unknown pinned dropped") << std::optional<QString>("x/y") << false << nothing
                                                << nothing << QStringList{ "a", "b", "c", router };
        QTest::newRow("pinned router") << std::optional<QString>(router) << false << nothing << nothing
                                       << QStringList{ router, "a", "b", "c" };
        QTest::newRow("cooling pinned after the router")
            << std::optional<QString>("c") << false << nothing << QStringList{ "c" }
            << QStringList{ "a", "b", router, "c" };
        QTest::newRow("cooling keep their order")
            << none << false << nothing << QStringList{ router, "a" } << QStringList{ "b", "c", "a", router };
        QTest::newRow("images: blind dropped, three seeing by context")
            << none << true << nothing << nothing << QStringList{ "b", "v2", "v1", "v3", router };
        QTest::newRow("images: blind pinned dropped") << std::optional<QString>(
            "a") << true << nothing << nothing << QStringList{ "b", "v2", "v1", "v3", router };
        QTest::newRow("images: seeing pinned") << std::optional<QString>("v4") << true << nothing << nothing
                                               << QStringList{ "v4", "b", "v2", "v1", "v3", router };
        QTest::newRow("images: excluded seeing ones still take a slot")
            << none << true << QStringList{ "v2" } << nothing << QStringList{ "b", "v1", "v3", router };
        QTest::newRow("router excluded")
            << none << false << QStringList{ router } << nothing << QStringList{ "a", "b", "c" };
        QTest::newRow("some excluded") << std::optional<QString>("a") << false << QStringList{ "a", "b" }
                                       << nothing << QStringList{ "c", router };
        QTest::newRow("everything excluded")
            << none << false << QStringList{ "a", "b", "c", router } << nothing << QStringList{};
    }

    void candidates()
    {
        QFETCH(std::optional<QString>, pinned);
        QFETCH(bool, needsImages);
        QFETCH(QStringList, excluding);
        QFETCH(QStringList, cooled);
        QFETCH(QStringList, expected);
        // "gone" is on the ladder but no longer among the models.
        auto ranker = rankerWith({ m("a", 8000), m("b", 16000, true), m("c", 32000), m("v1", 100000, true),
                                     m("v2", 200000, true), m("v3", 50000, true), m("v4", 10000, true) },
            { "a", "gone", "b", router, "c", router });
        for (const QString &id : cooled)
            ranker->cool(id, {});
        const QSet<QString> excluded(excluding.begin(), excluding.end());
        const QList<ORModel> result = ranker->candidates(pinned, needsImages, excluded);
        QCOMPARE(ids(result), expected);
        if (result.contains(ModelRanker::routerModel()))
            QCOMPARE(result.at(ids(result).indexOf(router)), ModelRanker::routerModel());
    }

    void freshRankerOffersTheRouterAlone()
    {
        ModelRanker ranker(m_client, cachePath());
        QCOMPARE(ranker.candidates({}, false, {}), QList<ORModel>{ ModelRanker::routerModel() });
        QCOMPARE(ranker.candidates({}, true, {}), QList<ORModel>{ ModelRanker::routerModel() });
        QCOMPARE(ranker.model(router), ModelRanker::routerModel());
        QCOMPARE(ranker.model("a"), std::nullopt);
        QCOMPARE(ranker.firstVisionModel(), ModelRanker::routerModel());
        QCOMPARE(ModelRanker::routerModel(), (ORModel{ router, "Free Models Router", 32000, true }));
    }

    void modelAndFirstVisionModel()
    {
        auto ranker = rankerWith({ m("a", 8000), m("b", 9000, true), m("a", 1) }, { "a", "b", router });
        QCOMPARE(ranker->model("a"), m("a", 8000)); // the first with that id
        QCOMPARE(ranker->firstVisionModel(), m("b", 9000, true));
        ranker->cool("b", {});
        QCOMPARE(ranker->firstVisionModel(), ModelRanker::routerModel());
        ranker->cool(router, {});
        QCOMPARE(ranker->firstVisionModel(), m("b", 9000, true));
    }

    // ---- cooling -----------------------------------------------------------------

    void cool_data()
    {
        QTest::addColumn<std::optional<double>>("retryAfter");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("no delay") << std::optional<double>() << 600LL;
        QTest::newRow("30 s") << std::optional<double>(30) << 600LL;
        QTest::newRow("negative") << std::optional<double>(-5) << 600LL;
        QTest::newRow("1800 s") << std::optional<double>(1800) << 1800LL;
        QTest::newRow("7200 s") << std::optional<double>(7200) << 3600LL;
        QTest::newRow("infinite") << std::optional<double>(std::numeric_limits<double>::infinity()) << 3600LL;
        QTest::newRow("not a number") << std::optional<double>(std::nan("")) << 600LL;
    }

    void cool()
    {
        QFETCH(std::optional<double>, retryAfter);
        QFETCH(qint64, seconds);
        QDateTime now = t0;
        ModelRanker ranker(m_client, cachePath());
        ranker.setClock([&now] { return now; });
        QSignalSpy changed(&ranker, &ModelRanker::coolingChanged);
        ranker.cool("a", retryAfter);
        QCOMPARE(ranker.cooling().value("a"), t0.addSecs(seconds));
        QCOMPARE(changed.size(), 1);
        QVERIFY(ranker.isCooling("a"));
        QVERIFY(!ranker.isCooling("b"));
        now = t0.addSecs(seconds).addMSecs(-1);
        QVERIFY(ranker.isCooling("a"));
        now = t0.addSecs(seconds);
        QVERIFY(!ranker.isCooling("a"));
    }

    void coolReplacesEvenWithAShorterTime()
    {
        ModelRanker ranker(m_client, cachePath());
        ranker.setClock([] { return t0; });
        QSignalSpy changed(&ranker, &ModelRanker::coolingChanged);
        ranker.cool("a", 3000);
        ranker.cool("a", {});
        QCOMPARE(ranker.cooling().value("a"), t0.addSecs(600));
        ranker.cool("a", 10); // the same time again: no change to announce
        QCOMPARE(changed.size(), 2);
    }

    // ---- cache path and reset ------------------------------------------------------

    void freshCacheIsAdoptedAtOnce()
    {
        writeCache(cachePath(), t0.addSecs(-899), { m("a", 1) }, { "a", router });
        ModelRanker ranker(m_client, cachePath());
        ranker.setClock([] { return t0; });
        QSignalSpy refreshing(&ranker, &ModelRanker::isRefreshingChanged);
        QSignalSpy models(&ranker, &ModelRanker::freeModelsChanged);
        QSignalSpy ladder(&ranker, &ModelRanker::ladderIDsChanged);
        int calls = 0;
        connect(ranker.refresh("key", false), &RefreshRequest::finished, this,
            [&calls](const std::optional<ORError> &error) {
                ++calls;
                QCOMPARE(error, std::nullopt);
            });
        QCOMPARE(ranker.freeModels(), QList<ORModel>{ m("a", 1) }); // before refresh() returned
        QCOMPARE(ranker.ladderIDs(), (QStringList{ "a", router }));
        QTRY_COMPARE(calls, 1);
        QCOMPARE(refreshing.size(), 0);
        // The same again changes nothing, so nothing is announced.
        ranker.refresh("key", false);
        QCOMPARE(models.size(), 1);
        QCOMPARE(ladder.size(), 1);
    }

    void resetForgetsEverything()
    {
        auto ranker = rankerWith({ m("a", 1) }, { "a", router });
        ranker->cool("a", {});
        QVERIFY(QFile::exists(cachePath()));
        QSignalSpy models(ranker.get(), &ModelRanker::freeModelsChanged);
        QSignalSpy ladder(ranker.get(), &ModelRanker::ladderIDsChanged);
        QSignalSpy cooling(ranker.get(), &ModelRanker::coolingChanged);
        QSignalSpy refreshing(ranker.get(), &ModelRanker::isRefreshingChanged);
        ranker->reset();
        QCOMPARE(ranker->freeModels(), QList<ORModel>());
        QCOMPARE(ranker->ladderIDs(), QStringList{ router });
        QVERIFY(ranker->cooling().isEmpty());
        QCOMPARE(ranker->note(), std::nullopt);
        QVERIFY(!QFile::exists(cachePath()));
        QCOMPARE(models.size(), 1);
        QCOMPARE(ladder.size(), 1);
        QCOMPARE(cooling.size(), 1);
        QCOMPARE(refreshing.size(), 0);
        ranker->reset(); // nothing left to change or delete
        QCOMPARE(models.size() + ladder.size() + cooling.size(), 3);
    }
};

QTEST_GUILESS_MAIN(RankerLogicTest)
#include "test_ranker_logic.moc"
