// One reply with fallback, driven on its own over a real ranker and client
// against the fake service: which models it asks, when it moves on, what it
// cools, how it signs an answer or explains a failure, and that an
// abandoned reply says nothing more.

#include "ConversationHarness.h"
#include "FakeFixtures.h"
#include "TestSupport.h"
#include "core/conversation/ReplyWithFallback.h"
#include "core/conversation/SystemPrompt.h"

#include <QJsonArray>
#include <QLoggingCategory>
#include <QPointer>
#include <QTest>

using namespace convkit;

Q_DECLARE_METATYPE(fake::Reply)

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");
const ORModel gammaModel = model("vendor/gamma:free", "Gamma");
const ORModel deltaModel = model("vendor/delta:free", "Delta");
const ORModel epsilon = model("vendor/epsilon:free", "Epsilon");

const QString prefix = QStringLiteral("Every free model I tried failed. Last problem: ");

QStringList askedModels(const fake::FakeService &fake)
{
    QStringList asked;
    for (const fake::Request &request : fake.chatRequests())
        asked.append(request.model());
    return asked;
}

ReplyOutcome answer(const QString &by, const std::optional<QString> &note = std::nullopt)
{
    return ReplyOutcome{ ReplyOutcome::answered, by, note, {} };
}

// A reply to "hello" over the harness's client and ranker, and all that it
// reported.
struct Run {
    explicit Run(Harness &h)
        : job(*h.client, *h.ranker,
            ReplyWithFallback::Request{ QStringLiteral("sk-or-v1-test"),
                { ChatMessage{
                    QUuid::createUuid(), QStringLiteral("user"), QStringLiteral("hello"), {}, {}, {} } },
                [this] { return pin; } })
    {
        QObject::connect(
            &job, &ReplyWithFallback::textArrived, [this](const QString &piece) { texts.append(piece); });
        QObject::connect(&job, &ReplyWithFallback::switched,
            [this](const ReplySwitch &change) { switches.append(change); });
        QObject::connect(&job, &ReplyWithFallback::finished,
            [this](const ReplyOutcome &outcome) { outcomes.append(outcome); });
    }

    bool startAndWait()
    {
        job.start();
        return testsupport::waitFor([this] { return !outcomes.isEmpty(); });
    }
    const ReplyOutcome &outcome() const { return outcomes.first(); }

    std::optional<QString> pin;
    QStringList texts;
    QList<ReplySwitch> switches;
    QList<ReplyOutcome> outcomes;
    ReplyWithFallback job;
};

// What the replies logged, at every level.
QStringList conversationLog;
QtMessageHandler previousHandler = nullptr;

void captureConversationLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && qstrcmp(context.category, "tolvi.conversation") == 0)
        conversationLog.append(text);
    else if (previousHandler)
        previousHandler(type, context, text);
}

enum class AbandonWhen {
    waitingForText, // the model was asked; nothing came yet
    afterText, // some text came
    insideText, // from a slot of its own text signal
    whileCooling, // from a slot of the ranker's signal as it cools a failed model
};

} // namespace

Q_DECLARE_METATYPE(AbandonWhen)

class ReplyWithFallbackTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("tolvi.conversation.debug=true"));
        previousHandler = qInstallMessageHandler(captureConversationLog);
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init()
    {
        SystemPrompt::write(QString());
        conversationLog.clear();
    }

    // Alpha fails as scripted; Beta would answer.
    void firstModelFails_data()
    {
        QTest::addColumn<fake::Reply>("failure");
        QTest::addColumn<QString>("reason"); // why Alpha was left; none: the reply ends with it
        QTest::addColumn<int>("coolSeconds"); // 0: Alpha is not cooled
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message"); // the issue's, when the reply failed
        const int answered = ReplyOutcome::answered;
        QTest::newRow("needs credit") << fake::Reply::error(402, "Insufficient credits.") << "it needs credit"
                                      << 600 << answered << QString();
        QTest::newRow("gone") << fake::replies::noEndpoints(alpha.id) << "it is no longer available" << 600
                              << answered << QString();
        QTest::newRow("empty reply") << fake::Reply::stream(alpha.id, {}) << "it sent an empty reply" << 600
                                     << answered << QString();
        QTest::newRow("provider error")
            << fake::replies::providerError(502) << "it was busy" << 600 << answered << QString();
        QTest::newRow("rate limited") << fake::replies::minuteLimit(QByteArray("1800")) << "it was busy"
                                      << 1800 << answered << QString();
        QTest::newRow("error mid-stream")
            << fake::Reply::streamError(alpha.id, { "Partial " }, 502, "Provider returned error")
            << "it was busy" << 600 << answered << QString();
        QTest::newRow("rate limited mid-stream") << fake::Reply::streamError(
            alpha.id, { "Partial " }, 429, "Rate limit exceeded: free-models-per-min. ")
                                                 << "it was busy" << 600 << answered << QString();
        // The account's failures are no model's fault.
        QTest::newRow("daily limit") << fake::replies::dailyLimit() << QString() << 0
                                     << int(ReplyOutcome::failed)
                                     << ORError::rateLimited(QString(), std::nullopt, true).message();
        QTest::newRow("rejected key")
            << fake::replies::unauthorized() << QString() << 0 << int(ReplyOutcome::keyRejected) << QString();
    }
    void firstModelFails()
    {
        QFETCH(fake::Reply, failure);
        QFETCH(QString, reason);
        QFETCH(int, coolSeconds);
        QFETCH(int, kind);
        QFETCH(QString, message);
        Harness h;
        h.failThenAnswer(alpha, failure, beta);
        Run run(h);
        // The switch is told before the next model is asked, so that the
        // failed model's text is gone before the next one's comes.
        qsizetype switchesAtNextRequest = -1;
        connect(&h.fake, &fake::FakeService::requestReceived, this, [&](const fake::Request &request) {
            if (request.model() == beta.id)
                switchesAtNextRequest = run.switches.size();
        });
        const QDateTime before = QDateTime::currentDateTimeUtc();
        QVERIFY(run.startAndWait());
        QCOMPARE(int(run.outcome().kind), kind);
        QCOMPARE(run.outcome().issue.message, message);
        // The log names models and failures, never the key, what was said
        // or what the service wrote.
        const QString log = conversationLog.join(QLatin1Char('\n'));
        QVERIFY(log.contains(alpha.id));
        for (const char *secret : { "sk-or-v1-test", "hello", "Partial", "Second", "Provider returned",
                 "credits", "Rate limit", "No endpoints", "User not found" })
            QVERIFY2(!log.contains(QLatin1String(secret)), secret);
        if (reason.isEmpty()) {
            QCOMPARE(askedModels(h.fake), QStringList{ alpha.id });
            QVERIFY(run.switches.isEmpty());
            QVERIFY(!h.ranker->isCooling(alpha.id));
            return;
        }
        QCOMPARE(run.switches, (QList<ReplySwitch>{ { alpha, beta, reason } }));
        QCOMPARE(switchesAtNextRequest, 1);
        QVERIFY(run.texts.endsWith(QStringLiteral(" answer")));
        QCOMPARE(run.outcome(), answer("Beta", "switched from Alpha because " + reason));
        const qint64 cooled = before.secsTo(h.ranker->cooling().value(alpha.id));
        QVERIFY2(
            cooled >= coolSeconds - 5 && cooled <= coolSeconds + 60, qPrintable(QString::number(cooled)));
        QVERIFY(!h.ranker->isCooling(beta.id));
    }

    void slowFirstModelIsLeftForTheNext()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "too late" }, { 0 }));
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { "Fine", "." }));
        Run run(h);
        // Only the first model runs on the short deadline: the next one may
        // take its time, however loaded the machine.
        run.job.setFirstChunkDeadline(2.0);
        connect(&h.fake, &fake::FakeService::requestReceived, this,
            [&run] { run.job.setFirstChunkDeadline(ReplyWithFallback::firstChunkDeadline); });
        QVERIFY(run.startAndWait());
        QCOMPARE(run.texts, (QStringList{ "Fine", "." }));
        QCOMPARE(run.switches, (QList<ReplySwitch>{ { alpha, beta, "it was slow to respond" } }));
        QCOMPARE(run.outcomes,
            (QList<ReplyOutcome>{ answer("Beta", "switched from Alpha because it was slow to respond") }));
        QVERIFY(h.ranker->isCooling(alpha.id));
        QVERIFY(!h.ranker->isCooling(beta.id));
    }

    void everyModelSlowFourTried()
    {
        Harness h;
        h.useModels({ alpha, beta, gammaModel, deltaModel, epsilon });
        for (const ORModel &m : { alpha, beta, gammaModel, deltaModel, epsilon })
            h.fake.enqueueChat(m.id, streamHeldAt(m.id, { "too late" }, { 0 }));
        Run run(h);
        run.job.setFirstChunkDeadline(0.1);
        QVERIFY(run.startAndWait());
        QCOMPARE(askedModels(h.fake), (QStringList{ alpha.id, beta.id, gammaModel.id, deltaModel.id }));
        QCOMPARE(run.switches.size(), 3);
        const QString line = QStringLiteral(": No data arrived before the time limit.");
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(run.outcome().issue,
            (AppIssue{ prefix + "The model took too long to start answering.",
                "Alpha" + line + "\nBeta" + line + "\nGamma" + line + "\nDelta" + line }));
    }

    void noCandidatesFailsFromStart()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        Run run(h);
        run.job.start();
        QCOMPARE(run.outcomes.size(), 1);
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(run.outcome().issue,
            (AppIssue{ "No free model is available right now.", "No models were available to try." }));
        QVERIFY(!run.job.isRunning());
        QVERIFY(h.fake.chatRequests().isEmpty());
    }

    void routerAloneFailsAfterOneAttempt()
    {
        Harness h; // a fresh ranker offers the router alone
        h.fake.enqueueChat(ModelRanker::routerId, fake::replies::providerError(502));
        Run run(h);
        QVERIFY(run.startAndWait());
        QCOMPARE(h.fake.chatRequests().size(), 1);
        const AppIssue &issue = run.outcome().issue;
        QCOMPARE(issue.message, prefix + "The model's provider had a problem (status 502).");
        QVERIFY(issue.details.startsWith("Free Models Router: HTTP 502: Provider returned error"));
        QVERIFY(!issue.details.contains('\n'));
    }

    void routedAnswerNamedByTheServedModel()
    {
        Harness h; // the fake's router reports "vendor/routed-model:free"
        Run run(h);
        QVERIFY(run.startAndWait());
        QCOMPARE(run.texts.join(QString()), QStringLiteral("Hello there."));
        QCOMPARE(run.outcomes, QList<ReplyOutcome>{ answer("routed-model") });
    }

    // The key and the conversation never follow a redirect: every model
    // "fails", and the other origin hears nothing.
    void redirectIsNeverFollowed_data()
    {
        QTest::addColumn<int>("status");
        for (const int status : { 301, 302, 307, 308 })
            QTest::newRow(qPrintable(QString::number(status))) << status;
    }
    void redirectIsNeverFollowed()
    {
        QFETCH(int, status);
        fake::FakeService elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.onAnyChat(fake::Reply::stream(alpha.id, { "Not from the service" }));
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.onAnyChat(fake::Reply::redirect(status, elsewhere.apiBase().toUtf8() + "/chat/completions"));
        Run run(h);
        QVERIFY(run.startAndWait());
        QVERIFY(elsewhere.requests().isEmpty());
        QVERIFY(run.texts.isEmpty());
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QVERIFY(run.outcome().issue.details.contains(QString::number(status)));
    }

    void promptAndPinAreReadAnewForEachModel()
    {
        Harness h;
        h.useModels({ alpha, beta, gammaModel });
        SystemPrompt::write(QStringLiteral("First prompt"));
        fake::Reply failure = fake::replies::providerError(503);
        failure.holdHead = true;
        h.fake.enqueueChat(alpha.id, failure);
        Run run(h);
        run.job.start();
        QVERIFY(h.waitChatRequests(1));
        SystemPrompt::write(QStringLiteral("Second prompt"));
        run.pin = gammaModel.id;
        QVERIFY(h.fake.release());
        QVERIFY(testsupport::waitFor([&] { return !run.outcomes.isEmpty(); }));
        QCOMPARE(askedModels(h.fake), (QStringList{ alpha.id, gammaModel.id }));
        const auto system = [](const fake::Request &r) {
            return r.json().value("messages").toArray().first().toObject().value("content").toString();
        };
        QCOMPARE(system(h.fake.chatRequests().at(0)), QStringLiteral("First prompt"));
        QCOMPARE(system(h.fake.chatRequests().at(1)), QStringLiteral("Second prompt"));
        QCOMPARE(h.ranker->pinsAsked.last(), std::optional<QString>(gammaModel.id));
    }

    // A cancel that the reply did not ask for is a failure, not a silent end
    // that would leave the reply running for ever.
    void foreignCancelIsAFailure()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>{ alpha };
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "never" }, { 0 }));
        Run run(h);
        run.job.start();
        QVERIFY(h.waitChatRequests(1));
        const QPointer<StreamCall> call = h.client->findChild<StreamCall *>();
        QVERIFY(call);
        call->cancel();
        QVERIFY(testsupport::waitForDeletion(call));
        QVERIFY(testsupport::waitFor([&] { return !run.outcomes.isEmpty(); }));
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(run.outcome().issue.message, prefix + "Cancelled.");
    }

    // Whatever its stream or the fake still send, an abandoned reply reports
    // nothing more and asks no other model.
    void abandonedReplyDeliversNothing_data()
    {
        QTest::addColumn<fake::Reply>("first");
        QTest::addColumn<AbandonWhen>("when");
        QTest::addColumn<QStringList>("textsBefore");
        QTest::newRow("waiting for text")
            << streamHeldAt(alpha.id, { "late" }, { 0 }) << AbandonWhen::waitingForText << QStringList();
        QTest::newRow("after some text")
            << streamHeldAt(alpha.id, { "A", "B" }, { 2 }) << AbandonWhen::afterText << QStringList{ "A" };
        QTest::newRow("inside its own text signal")
            << streamHeldAt(alpha.id, { "A", "B" }, { 2 }) << AbandonWhen::insideText << QStringList{ "A" };
        QTest::newRow("while the ranker cools the failed model")
            << fake::replies::providerError(503) << AbandonWhen::whileCooling << QStringList();
    }
    void abandonedReplyDeliversNothing()
    {
        QFETCH(fake::Reply, first);
        QFETCH(AbandonWhen, when);
        QFETCH(QStringList, textsBefore);
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, first);
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { "never asked" }));
        Run run(h);
        const auto abandon = [&run] { run.job.abandon(); };
        if (when == AbandonWhen::insideText)
            connect(&run.job, &ReplyWithFallback::textArrived, this, abandon);
        if (when == AbandonWhen::whileCooling)
            connect(h.ranker.get(), &ModelRanker::coolingChanged, this, abandon);
        run.job.start();
        const QPointer<StreamCall> call = h.client->findChild<StreamCall *>();
        QVERIFY(call);
        if (when == AbandonWhen::waitingForText || when == AbandonWhen::afterText) {
            QVERIFY(testsupport::waitFor(
                [&] { return run.texts.size() == textsBefore.size() && h.fake.heldSteps() == 1; }));
            abandon();
            // Before the event loop turns again: the fake has not yet seen
            // the transfer cut, and writes what it held back.
            QCOMPARE(h.fake.releaseAll(), 1);
        }
        QVERIFY(testsupport::waitFor([&] { return !run.job.isRunning(); }));
        // The call winds down and the fake is done with the connection.
        QVERIFY(testsupport::waitForDeletion(call));
        QVERIFY(testsupport::waitFor([&] { return h.fake.openConnections() == 0; }));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(run.texts, textsBefore);
        QVERIFY(run.switches.isEmpty());
        QVERIFY(run.outcomes.isEmpty());
        // Stopping is not the model's fault.
        QCOMPARE(h.ranker->isCooling(alpha.id), when == AbandonWhen::whileCooling);
        QVERIFY(!h.client->findChild<StreamCall *>()); // no other model was asked
        QCOMPARE(h.fake.chatRequests().size(), 1);
    }
};

QTEST_MAIN(ReplyWithFallbackTest)
#include "test_reply_with_fallback.moc"
