// The model ladder as a person reads it, over the fake service with a clock
// the test moves: what was measured, the cooling countdown, where the open
// chat's next message goes and who answered it last, and a refresh in flight.
#include "RankerTestKit.h"
#include "TestSupport.h"
#include "core/conversation/ChatViewModel.h"
#include "core/ladder/LadderModel.h"
#include "core/ranker/RankerCache.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace rankerkit;
using testsupport::waitFor;

namespace {

const QString router = ModelRanker::routerId;
const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);
const QString key = QStringLiteral("sk-or-v1-test");

const ORModel alpha{ "v/alpha:free", "Alpha", 131072, true };
const ORModel beta{ "v/beta:free", "Beta", 32000, false };
const ORModel outside{ "v/outside:free", "Outside", 8000, false };

QString mid(int i)
{
    return QStringLiteral("v/m%1:free").arg(i);
}

// Row texts as a person reads them, one string per row.
QStringList table(const LadderModel &model)
{
    QStringList lines;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells.append(model.index(row, column).data().toString());
        lines.append(cells.join(QStringLiteral(" | ")));
    }
    return lines;
}

QString rowNamed(const LadderModel &model, bool (*test)(const LadderRow &))
{
    for (const LadderRow &row : model.rows()) {
        if (test(row))
            return row.name;
    }
    return {};
}

} // namespace

class ModelLadderTest : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now = t0;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<fake::FakeService> m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    std::unique_ptr<ChatStore> m_store;
    std::unique_ptr<ModelRanker> m_ranker;
    std::unique_ptr<ChatViewModel> m_vm;
    std::unique_ptr<LadderModel> m_ladder;

    std::unique_ptr<ModelRanker> makeRanker()
    {
        auto ranker = std::make_unique<ModelRanker>(*m_client, m_dir->filePath("models-cache.json"));
        ranker->setClock([this] { return m_now; });
        return ranker;
    }

    // The ranker takes these from a fresh cache, as at a restart.
    void useCache(const QList<ORModel> &models, const QStringList &ladder)
    {
        RankerCache{ t0, models, ladder }.write(m_ranker->cachePath());
        m_ranker->refresh(key, false);
        QCOMPARE(m_ranker->ladderIDs(), ladder);
    }

    void moveClockTo(const QDateTime &now)
    {
        m_now = now;
        m_ladder->update(); // what the model's timer does when a text is due
    }

private Q_SLOTS:
    void init()
    {
        m_now = t0;
        m_dir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<fake::FakeService>();
        QVERIFY(m_fake->start());
        m_client = std::make_unique<OpenRouterClient>(m_fake->origin());
        m_client->setProbeDeadline(120);
        m_store = std::make_unique<ChatStore>(m_dir->filePath("chats"));
        m_ranker = makeRanker();
        m_vm = std::make_unique<ChatViewModel>(*m_store, *m_ranker, *m_client);
        m_vm->keyProvider = [] { return std::optional<QString>(key); };
        m_ladder = std::make_unique<LadderModel>(*m_ranker, *m_vm);
        m_ladder->setClock([this] { return m_now; });
    }

    void cleanup()
    {
        m_ladder.reset();
        m_vm.reset();
        m_store->drain();
        m_store.reset();
        m_ranker.reset();
        m_client.reset();
        m_fake.reset();
        m_dir.reset();
    }

    // A refresh measures one probed model and keeps one in reserve; the
    // figures survive a restart through the cache.
    void showsWhatTheRefreshMeasured()
    {
        // Four probed (m0..m3 by score), m4 in reserve; only m1's probe answers.
        QJsonArray catalogue;
        const QList<int> contexts{ 262144, 131072, 65536, 32000, 8000 };
        for (int i = 0; i < contexts.size(); ++i)
            catalogue.append(freeEntry(mid(i), contexts.at(i), i == 1));
        m_fake->setCatalogue(catalogue);
        m_fake->setStats(mid(1), statsBody(99.5, 500));
        m_fake->setStats(mid(4), statsBody(80, 3000));
        for (int i : { 0, 2, 3 })
            m_fake->onChat(mid(i), fake::Reply::error(404, "No endpoints found."));
        m_fake->onChat(mid(1), fake::Reply::stream(mid(1), { "Hi" }));
        QCOMPARE(m_ladder->measured(), QStringLiteral("not measured yet"));

        m_ranker->refresh(key, true);
        QVERIFY(waitFor([&] { return !m_ranker->isRefreshing(); }));
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ mid(1), mid(4), router }));
        const QStringList rows = table(*m_ladder);
        QVERIFY2(QRegularExpression(R"(^v/m1:free \| \d+\.\d s \| 99\.5% \| 128K \| yes \| next$)")
                     .match(rows.at(0))
                     .hasMatch(),
            qPrintable(rows.at(0)));
        QCOMPARE(rows.mid(1),
            (QStringList{ "v/m4:free | not measured | 80% | 8K | no | ",
                "Free Models Router | not measured | unknown | 32K | yes | " }));
        QCOMPARE(m_ladder->measured(), QStringLiteral("measured just now"));
        moveClockTo(t0.addSecs(6 * 60 + 59));
        QCOMPARE(m_ladder->measured(), QStringLiteral("measured 6 minutes ago"));

        // A restart within fifteen minutes reads the same from the cache.
        auto restarted = makeRanker();
        restarted->refresh(key, false);
        LadderModel again(*restarted, *m_vm);
        again.setClock([this] { return m_now; });
        QCOMPARE(table(again), rows);
        QCOMPARE(again.measured(), QStringLiteral("measured 6 minutes ago"));
    }

    // A cache written before the figures were kept still gives the ladder.
    void olderCacheReadsWithoutFigures()
    {
        writeCache(m_ranker->cachePath(), t0.addSecs(-125), { alpha }, { alpha.id, router });
        m_ranker->refresh(key, false);
        QCOMPARE(m_ranker->ladderIDs(), (QStringList{ alpha.id, router }));
        QCOMPARE(
            table(*m_ladder).first(), QStringLiteral("Alpha | not measured | unknown | 128K | yes | next"));
        QCOMPARE(m_ladder->measured(), QStringLiteral("measured 2 minutes ago"));
    }

    void coolingCountsDown_data()
    {
        QTest::addColumn<int>("elapsed"); // seconds since Alpha was cooled for 600
        QTest::addColumn<QString>("alphaStatus");
        QTest::addColumn<QString>("next");
        QTest::newRow("just cooled") << 0 << "cooling down · 10 min left"
                                     << "Beta";
        QTest::newRow("half a minute on") << 30 << "cooling down · 9 min left"
                                          << "Beta";
        QTest::newRow("a minute left") << 540 << "cooling down · 1 min left"
                                       << "Beta";
        QTest::newRow("59 s left") << 541 << "cooling down · less than a minute left"
                                   << "Beta";
        QTest::newRow("time up") << 600 << "next"
                                 << "Alpha";
    }

    void coolingCountsDown()
    {
        QFETCH(int, elapsed);
        QFETCH(QString, alphaStatus);
        QFETCH(QString, next);
        useCache({ alpha, beta }, { alpha.id, beta.id, router });
        m_ranker->cool(alpha.id, 600);
        moveClockTo(t0.addSecs(elapsed));
        QCOMPARE(m_ladder->rows().at(0).status(), alphaStatus);
        QCOMPARE(rowNamed(*m_ladder, [](const LadderRow &r) { return r.isNext; }), next);
        // Nothing read differently: nothing to redraw.
        QSignalSpy changed(m_ladder.get(), &LadderModel::dataChanged);
        m_ladder->update();
        QCOMPARE(changed.size(), 0);
    }

    // The countdown runs by itself: the model wakes when a text is due.
    void countdownWakesByItself()
    {
        useCache({ alpha, beta }, { alpha.id, beta.id, router });
        m_ranker->cool(alpha.id, 600);
        moveClockTo(t0.addMSecs(600 * 1000 - 50));
        QVERIFY(m_ladder->rows().at(0).cooling);
        QVERIFY(m_ladder->nextTick() <= std::chrono::milliseconds(50));
        m_now = t0.addSecs(600);
        QSignalSpy changed(m_ladder.get(), &LadderModel::dataChanged);
        QVERIFY(waitFor([&] { return !m_ladder->rows().at(0).cooling; }));
        QVERIFY(m_ladder->rows().at(0).isNext);
        QCOMPARE(changed.size(), 2); // Alpha's row and Beta's
    }

    void nextAndLastAnswer_data()
    {
        QTest::addColumn<std::optional<QString>>("pinned");
        QTest::addColumn<QStringList>("cooled");
        QTest::addColumn<QString>("answerFrom"); // a model that answers one message, or none
        QTest::addColumn<QString>("nextRow");
        QTest::addColumn<QString>("answeredRow");
        QTest::addColumn<std::optional<QString>>("nextOff");
        QTest::addColumn<std::optional<QString>>("lastOff");
        const std::optional<QString> none;
        QTest::newRow("automatic") << none << QStringList() << QString() << "Alpha" << QString() << none
                                   << none;
        QTest::newRow("pinned on the ladder") << std::optional<QString>(beta.id) << QStringList() << QString()
                                              << "Beta" << QString() << none << none;
        QTest::newRow("pinned off the ladder")
            << std::optional<QString>(outside.id) << QStringList() << QString() << QString() << QString()
            << std::optional<QString>("Next: Outside") << none;
        QTest::newRow("the first cooling")
            << none << QStringList{ alpha.id } << QString() << "Beta" << QString() << none << none;
        QTest::newRow("pinned and cooling") << std::optional<QString>(beta.id) << QStringList{ beta.id }
                                            << QString() << "Alpha" << QString() << none << none;
        QTest::newRow("answered on the ladder") << none << QStringList() << alpha.id << "Alpha"
                                                << "Alpha" << none << none;
        QTest::newRow("answered off the ladder")
            << std::optional<QString>(outside.id) << QStringList() << outside.id << QString() << QString()
            << std::optional<QString>("Next: Outside") << std::optional<QString>("Last answer: Outside");
    }

    void nextAndLastAnswer()
    {
        QFETCH(std::optional<QString>, pinned);
        QFETCH(QStringList, cooled);
        QFETCH(QString, answerFrom);
        QFETCH(QString, nextRow);
        QFETCH(QString, answeredRow);
        QFETCH(std::optional<QString>, nextOff);
        QFETCH(std::optional<QString>, lastOff);
        useCache({ alpha, beta, outside }, { alpha.id, beta.id, router });
        QSignalSpy texts(m_ladder.get(), &LadderModel::textsChanged);
        m_vm->pin(pinned);
        for (const QString &id : cooled)
            m_ranker->cool(id, {});
        if (!answerFrom.isEmpty()) {
            m_fake->enqueueChat(answerFrom, fake::Reply::stream(answerFrom, { "Hi" }));
            m_vm->setDraft("hello");
            m_vm->send();
            QVERIFY(waitFor([&] { return !m_vm->isStreaming(); }));
            QVERIFY(m_vm->chat().messages.last().answeredBy);
        }
        QCOMPARE(rowNamed(*m_ladder, [](const LadderRow &r) { return r.isNext; }), nextRow);
        QCOMPARE(rowNamed(*m_ladder, [](const LadderRow &r) { return r.answeredLast; }), answeredRow);
        QCOMPARE(m_ladder->nextOffLadder(), nextOff);
        QCOMPARE(m_ladder->lastAnswerOffLadder(), lastOff);
        QCOMPARE(texts.isEmpty(), !nextOff && !lastOff);

        // Another chat has answered nothing yet.
        m_vm->newChat();
        QCOMPARE(rowNamed(*m_ladder, [](const LadderRow &r) { return r.answeredLast; }), QString());
        QCOMPARE(m_ladder->lastAnswerOffLadder(), std::nullopt);
    }

    // While the ranker refreshes, the progress counts its steps: the
    // catalogue, then each statistics answer, then each probe.
    void refreshInFlight()
    {
        useCache({ alpha }, { alpha.id, router });
        m_fake->setCatalogue(QJsonArray{ freeEntry(mid(0), 4000), freeEntry(mid(1), 2000) });
        m_fake->setResponder([](const fake::Request &request) -> std::optional<fake::Reply> {
            if (!request.path.endsWith("/endpoints") && request.pathOnly() != "/api/v1/models")
                return std::nullopt;
            fake::Reply reply = request.path.endsWith("/endpoints")
                ? fake::Reply::json(200, statsBody(99, 500))
                : fake::Reply::json(200,
                    QJsonObject{
                        { "data", QJsonArray{ freeEntry(mid(0), 4000), freeEntry(mid(1), 2000) } } });
            reply.holdHead = true;
            return reply;
        });
        QSignalSpy texts(m_ladder.get(), &LadderModel::textsChanged);
        m_ranker->refresh(key, true);
        QVERIFY(m_ladder->isRefreshing());
        QCOMPARE(m_ladder->refreshText(), QStringLiteral("Refreshing…"));
        QCOMPARE(m_ladder->progress(), (RefreshProgress{ 0, 0 })); // how much is not known yet
        QCOMPARE(texts.size(), 1);

        QVERIFY(waitFor([&] { return m_fake->release(); })); // the catalogue
        // Two models: the catalogue, two statistics, two probes.
        QVERIFY(waitFor([&] { return m_ladder->progress() == RefreshProgress{ 1, 5 }; }));
        QVERIFY(waitFor([&] { return m_fake->heldSteps() == 2; }));
        m_fake->release();
        QVERIFY(waitFor([&] { return m_ladder->progress() == RefreshProgress{ 2, 5 }; }));
        m_fake->release();
        QVERIFY(waitFor([&] { return !m_ladder->isRefreshing(); }));
        QCOMPARE(m_ladder->progress(), RefreshProgress());
        QCOMPARE(m_ladder->refreshText(), QStringLiteral("Refresh list"));
        QCOMPARE(m_ladder->rowCount(), 3);
        QCOMPARE(m_ladder->measured(), QStringLiteral("measured just now"));
    }
};

QTEST_GUILESS_MAIN(ModelLadderTest)
#include "test_model_ladder.moc"
