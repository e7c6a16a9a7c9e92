// One reply with fallback, driven on its own over a real ranker and client
// against the fake service: which models it asks, when it moves on, what it
// cools, how it signs an answer or explains a failure, and that an
// abandoned reply says nothing more.

#include "ConversationHarness.h"
#include "FakeFixtures.h"
#include "TestSupport.h"
#include "core/conversation/ReplyWithFallback.h"
#include "core/conversation/SystemPrompt.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
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

ReplyOutcome answer(const QString &by, const std::optional<QString> &note = std::nullopt,
    const QString &modelId = QString(), std::optional<AnswerCut> cut = std::nullopt)
{
    ReplyOutcome outcome{ ReplyOutcome::answered, by, note, {} };
    outcome.modelId = modelId;
    outcome.cut = cut;
    return outcome;
}

QList<ChatMessage> hello()
{
    return { ChatMessage{
        QUuid::createUuid(), QStringLiteral("user"), QStringLiteral("hello"), {}, {}, {} } };
}

// A reply over the harness's client and ranker (to "hello" unless told
// otherwise), and all that it reported. The job deletes itself once it has
// delivered or been cancelled.
struct Run {
    explicit Run(Harness &h, QList<ChatMessage> history = hello(), std::optional<ORModel> only = std::nullopt)
        : job(new ReplyWithFallback(*h.client, *h.ranker,
            ReplyWithFallback::Request{
                QStringLiteral("sk-or-v1-test"), std::move(history), [this] { return pin; }, only }))
    {
        QObject::connect(
            job, &ReplyWithFallback::textArrived, [this](const QString &piece) { texts.append(piece); });
        QObject::connect(job, &ReplyWithFallback::reasoningArrived,
            [this](const QString &piece) { reasoning.append(piece); });
        QObject::connect(job, &ReplyWithFallback::switched,
            [this](const ReplySwitch &change) { switches.append(change); });
        QObject::connect(job, &ReplyWithFallback::waitingForLimit, [this] { ++waits; });
        QObject::connect(job, &ReplyWithFallback::retrying, [this] { ++retries; });
        QObject::connect(job, &ReplyWithFallback::finished,
            [this](const ReplyOutcome &outcome) { outcomes.append(outcome); });
    }
    ~Run() { delete job.data(); }

    bool startAndWait()
    {
        job->start();
        return testsupport::waitFor([this] { return !outcomes.isEmpty(); });
    }
    const ReplyOutcome &outcome() const { return outcomes.first(); }

    std::optional<QString> pin;
    QStringList texts;
    QStringList reasoning;
    QList<ReplySwitch> switches;
    int waits = 0;
    int retries = 0;
    QList<ReplyOutcome> outcomes;
    QPointer<ReplyWithFallback> job;
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

// A model and what it answers when asked, in the order of the script.
struct Scripted {
    QString model;
    fake::Reply reply;
};

// Eight long turns: more than a model of an 8192-token context reads.
QList<ChatMessage> longHistory()
{
    QList<ChatMessage> history;
    for (int i = 0; i < 8; ++i) {
        const QString role = i % 2 == 0 ? QStringLiteral("user") : QStringLiteral("assistant");
        history.append(ChatMessage{ QUuid::createUuid(), role, QString(4000, QChar(u'a' + i)), {}, {}, {} });
    }
    return history;
}

// "Alpha" or "Beta · switched from Alpha because …" for an answer; the
// issue's message for a failure.
QString told(const ReplyOutcome &outcome)
{
    if (outcome.kind != ReplyOutcome::answered)
        return outcome.issue.message;
    return outcome.note ? outcome.answeredBy + " · " + *outcome.note : outcome.answeredBy;
}

fake::Reply minuteLimitInStream(const QString &model, int resetInMs)
{
    const QJsonObject headers{ { "X-RateLimit-Limit", "20" }, { "X-RateLimit-Remaining", "0" },
        { "X-RateLimit-Reset", QString::number(QDateTime::currentMSecsSinceEpoch() + resetInMs) } };
    return fake::Reply::events(
        { fake::sse::roleChunk(model), fake::sse::contentChunk(model, "Partial "),
            fake::sse::errorChunk(model, 429, "Rate limit exceeded: free-models-per-min. ",
                QJsonObject{ { "headers", headers } }) },
        fake::Reply::noDone());
}

enum class AbandonWhen {
    waitingForText, // the model was asked; nothing came yet
    afterText, // some text came
    insideText, // from a slot of its own text signal
    whileCooling, // from a slot of the ranker's signal as it cools a failed model
};

} // namespace

Q_DECLARE_METATYPE(AbandonWhen)
Q_DECLARE_METATYPE(QList<Scripted>)
Q_DECLARE_METATYPE(std::optional<AnswerCut>)

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
        const int failed = ReplyOutcome::failed;
        QTest::newRow("gone") << fake::replies::noEndpoints(alpha.id) << "it is no longer available" << 600
                              << answered << QString();
        QTest::newRow("empty reply") << fake::Reply::stream(alpha.id, {}) << "it sent an empty reply" << 600
                                     << answered << QString();
        fake::StreamOptions thinkingOnly;
        thinkingOnly.reasoning = QStringList{ "Let me think", " about it" };
        thinkingOnly.finishReason = QStringLiteral("length");
        QTest::newRow("reasoning alone is an empty reply")
            << fake::Reply::stream(alpha.id, {}, thinkingOnly) << "it sent an empty reply" << 600 << answered
            << QString();
        QTest::newRow("provider error")
            << fake::replies::providerError(502) << "it was busy" << 600 << answered << QString();
        QTest::newRow("error body on a stream's 200")
            << fake::replies::errorBodyOn200(502) << "it was busy" << 600 << answered << QString();
        QTest::newRow("provider rate limited") << fake::replies::upstreamRateLimited(alpha.id, 1800)
                                               << "it was busy" << 1800 << answered << QString();
        QTest::newRow("a provider's own daily quota is no account limit")
            << fake::replies::providerDailyQuota(alpha.id) << "it was busy" << 900 << answered << QString();
        QTest::newRow("error mid-stream")
            << fake::Reply::streamError(alpha.id, { "Partial " }, 502, "Provider returned error")
            << "it was busy" << 600 << answered << QString();
        QTest::newRow("provider rate limited mid-stream")
            << fake::Reply::streamError(alpha.id, { "Partial " }, 429, "Provider returned error")
            << "it was busy" << 600 << answered << QString();
        // Neither says anything about whether the model works.
        QTest::newRow("too long for it") << fake::replies::contextTooLong() << "the chat was too long for it"
                                         << 0 << answered << QString();
        QTest::newRow("flagged by its provider")
            << fake::replies::moderated(alpha.id) << "its provider flagged the message" << 0 << answered
            << QString();
        // The account's failures are no model's fault, and every free model
        // would answer the same.
        QTest::newRow("daily limit") << fake::replies::dailyLimit() << QString() << 0 << failed
                                     << ORError::rateLimited(QString(), std::nullopt, true).message();
        QTest::newRow("negative balance")
            << fake::Reply::error(402, "Insufficient credits. Add more using https://openrouter.ai/credits")
            << QString() << 0 << failed << "That model needs credit your account doesn't have.";
        QTest::newRow("privacy settings") << fake::replies::privacyExcluded() << QString() << 0 << failed
                                          << "Your OpenRouter privacy settings exclude the free models.";
        QTest::newRow("a wait for the minute longer than a minute") << fake::replies::minuteLimitFor(
            90000) << QString() << 0 << failed << "Too many free requests this minute. Try again in about";
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
        QVERIFY2(run.outcome().issue.message.startsWith(message), qPrintable(run.outcome().issue.message));
        // Only the privacy settings come with a page to open.
        QCOMPARE(run.outcome().issue.action.has_value(), message.startsWith("Your OpenRouter privacy"));
        // The log names models and failures, never the key, what was said
        // or what the service wrote.
        const QString log = conversationLog.join(QLatin1Char('\n'));
        QVERIFY(log.contains(alpha.id));
        for (const char *secret : { "sk-or-v1-test", "hello", "Partial", "Second", "Provider returned",
                 "credits", "Rate limit", "No endpoints", "User not found", "Let me think", "harassment" })
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
        QCOMPARE(run.outcome(), answer("Beta", "switched from Alpha because " + reason, beta.id));
        QCOMPARE(h.ranker->isCooling(alpha.id), coolSeconds > 0);
        if (coolSeconds > 0) {
            const qint64 cooled = before.secsTo(h.ranker->cooling().value(alpha.id));
            QVERIFY2(
                cooled >= coolSeconds - 5 && cooled <= coolSeconds + 60, qPrintable(QString::number(cooled)));
        }
        QVERIFY(!h.ranker->isCooling(beta.id));
    }

    // Failures that are answered by asking the same model again, or by
    // asking one other model once: the account's per-minute limit, a chat
    // too long for a model, a provider's moderation. None cools a model.
    void askedInTurn_data()
    {
        QTest::addColumn<QList<Scripted>>("script");
        QTest::addColumn<bool>("longChat"); // the long history rather than "hello"
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("told"); // told(outcome) starts with it
        QTest::addColumn<int>("waits");
        QTest::addColumn<int>("retries");
        const auto answers = [](const ORModel &m) { return fake::Reply::stream(m.id, { "Fine." }); };
        const auto minute = [] { return fake::replies::minuteLimitFor(1000); };
        const QString minuteText = QStringLiteral("Too many free requests this minute. Try again in about ");
        const QString tooLong
            = QStringLiteral("This chat is longer than the free models can read. Start a new "
                             "chat, or remove images.");

        QTest::newRow("the minute passes, the same model answers")
            << QList<Scripted>{ { alpha.id, minute() }, { alpha.id, answers(alpha) } } << false
            << QStringList{ alpha.id, alpha.id } << "Alpha" << 1 << 1;
        QTest::newRow("the minute's limit inside a stream")
            << QList<Scripted>{ { alpha.id, minuteLimitInStream(alpha.id, 1000) },
                   { alpha.id, answers(alpha) } }
            << false << QStringList{ alpha.id, alpha.id } << "Alpha" << 1 << 1;
        QTest::newRow("a second per-minute answer ends the reply")
            << QList<Scripted>{ { alpha.id, minute() }, { alpha.id, minute() } } << false
            << QStringList{ alpha.id, alpha.id } << minuteText << 1 << 1;
        QTest::newRow("trimmed to what the model reads, it answers")
            << QList<Scripted>{ { alpha.id, fake::replies::contextTooLong() }, { alpha.id, answers(alpha) } }
            << true << QStringList{ alpha.id, alpha.id } << "Alpha" << 0 << 1;
        QTest::newRow("trimmed and still too long: the next model")
            << QList<Scripted>{ { alpha.id, fake::replies::contextTooLong() },
                   { alpha.id, fake::replies::contextTooLong(4096) }, { beta.id, answers(beta) } }
            << true << QStringList{ alpha.id, alpha.id, beta.id }
            << "Beta · switched from Alpha because the chat was too long for it" << 0 << 1;
        QTest::newRow("nothing to trim: the next model at once")
            << QList<Scripted>{ { alpha.id, fake::replies::contextTooLong() }, { beta.id, answers(beta) } }
            << false << QStringList{ alpha.id, beta.id }
            << "Beta · switched from Alpha because the chat was too long for it" << 0 << 0;
        QTest::newRow("too long for every model")
            << QList<Scripted>{ { alpha.id, fake::replies::contextTooLong() },
                   { alpha.id, fake::replies::contextTooLong() },
                   { beta.id, fake::replies::contextTooLong() },
                   { beta.id, fake::replies::contextTooLong() } }
            << true << QStringList{ alpha.id, alpha.id, beta.id, beta.id } << tooLong << 0 << 2;
        QTest::newRow("flagged twice ends the reply")
            << QList<Scripted>{ { alpha.id, fake::replies::moderated(alpha.id) },
                   { beta.id, fake::replies::moderated(beta.id, { "harassment", "hate" }) },
                   { gammaModel.id, answers(gammaModel) } }
            << false << QStringList{ alpha.id, beta.id }
            << "The model's provider flagged this message (harassment, hate)." << 0 << 0;
    }
    void askedInTurn()
    {
        QFETCH(QList<Scripted>, script);
        QFETCH(bool, longChat);
        QFETCH(QStringList, asked);
        QFETCH(QString, told);
        QFETCH(int, waits);
        QFETCH(int, retries);
        Harness h;
        h.useModels({ alpha, beta, gammaModel });
        h.ranker->offer = QList<ORModel>{ alpha, beta };
        for (const Scripted &step : std::as_const(script))
            h.fake.enqueueChat(step.model, step.reply);
        Run run(h, longChat ? longHistory() : hello());
        QVERIFY(run.startAndWait());
        QCOMPARE(askedModels(h.fake), asked);
        QVERIFY2(::told(run.outcome()).startsWith(told), qPrintable(::told(run.outcome())));
        QCOMPARE(run.waits, waits);
        QCOMPARE(run.retries, retries);
        QVERIFY(h.ranker->cooling().isEmpty());
        if (longChat && asked.size() > 1 && asked.at(0) == asked.at(1)) {
            // The second ask is the shorter one, and still ends with the
            // question being answered.
            const auto sent
                = [&h](int i) { return h.fake.chatRequests().at(i).json().value("messages").toArray(); };
            QVERIFY(sent(1).size() < sent(0).size());
            QCOMPARE(sent(1).last(), sent(0).last());
        }
    }

    // How an answer that brought text ended, and its reasoning passed on.
    void howTheAnswerEnded_data()
    {
        QTest::addColumn<fake::Reply>("reply");
        QTest::addColumn<std::optional<AnswerCut>>("cut");
        QTest::addColumn<QStringList>("reasoning");
        const auto with = [](const QString &finish, bool done, const QStringList &reasoning = {}) {
            fake::StreamOptions options;
            options.finishReason = finish;
            options.sendDone = done;
            options.reasoning = reasoning;
            return fake::Reply::stream(alpha.id, { "Some", " text" }, options);
        };
        const std::optional<AnswerCut> whole;
        QTest::newRow("whole") << with("stop", true) << whole << QStringList();
        QTest::newRow("whole without [DONE]") << with("stop", false) << whole << QStringList();
        QTest::newRow("cut by its length limit, then a usage chunk saying stop")
            << with("length", true) << std::optional(AnswerCut::length) << QStringList();
        QTest::newRow("stopped by the provider's filter")
            << with("content_filter", true) << std::optional(AnswerCut::filter) << QStringList();
        QTest::newRow("the connection closed early")
            << with(QString(), false) << std::optional(AnswerCut::connection) << QStringList();
        QTest::newRow("reasoned first") << with("stop", true, { "Hmm,", " let me see." }) << whole
                                        << QStringList{ "Hmm,", " let me see." };
    }
    void howTheAnswerEnded()
    {
        QFETCH(fake::Reply, reply);
        QFETCH(std::optional<AnswerCut>, cut);
        QFETCH(QStringList, reasoning);
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, reply);
        Run run(h);
        QVERIFY(run.startAndWait());
        QCOMPARE(run.outcome(), answer("Alpha", {}, alpha.id, cut));
        QCOMPARE(run.texts.join(QString()), QStringLiteral("Some text"));
        QCOMPARE(run.reasoning, reasoning);
        QCOMPARE(askedModels(h.fake), QStringList{ alpha.id });
    }

    // A continuation: the one model, the cut answer last in what it is
    // sent, and no fallback when it fails.
    void onlyModelIsAskedAlone()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>{ alpha, beta };
        h.fake.enqueueChat(alpha.id, fake::replies::providerError(502));
        QList<ChatMessage> history = hello();
        history.append(
            ChatMessage{ QUuid::createUuid(), QStringLiteral("assistant"), "Half an answ", {}, {}, {} });
        Run run(h, history, alpha);
        QVERIFY(run.startAndWait());
        QCOMPARE(askedModels(h.fake), QStringList{ alpha.id });
        const QJsonObject last
            = h.fake.chatRequests().first().json().value("messages").toArray().last().toObject();
        QCOMPARE(last.value("role").toString(), QStringLiteral("assistant"));
        QCOMPARE(last.value("content").toString(), QStringLiteral("Half an answ"));
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(
            run.outcome().issue.message, QStringLiteral("The model's provider had a problem (status 502)."));
        QVERIFY(run.switches.isEmpty());
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
        run.job->setFirstChunkDeadline(2.0);
        connect(&h.fake, &fake::FakeService::requestReceived, this,
            [&run] { run.job->setFirstChunkDeadline(ReplyWithFallback::firstChunkDeadline); });
        QVERIFY(run.startAndWait());
        QCOMPARE(run.texts, (QStringList{ "Fine", "." }));
        QCOMPARE(run.switches, (QList<ReplySwitch>{ { alpha, beta, "it was slow to respond" } }));
        QCOMPARE(run.outcomes,
            (QList<ReplyOutcome>{
                answer("Beta", "switched from Alpha because it was slow to respond", beta.id) }));
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
        run.job->setFirstChunkDeadline(0.1);
        QVERIFY(run.startAndWait());
        QCOMPARE(askedModels(h.fake), (QStringList{ alpha.id, beta.id, gammaModel.id, deltaModel.id }));
        QCOMPARE(run.switches.size(), 3);
        const QString line = QStringLiteral(": No data arrived before the time limit.");
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(run.outcome().issue,
            (AppIssue{ prefix + "The model took too long to start answering.",
                "Alpha" + line + "\nBeta" + line + "\nGamma" + line + "\nDelta" + line }));
    }

    // Decided at once, but told from the event loop, as every operation
    // tells its end.
    void noCandidatesFailsFromTheEventLoop()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        Run run(h);
        run.job->start();
        QVERIFY(run.outcomes.isEmpty());
        QVERIFY(!run.job->isRunning());
        QVERIFY(testsupport::waitFor([&] { return !run.outcomes.isEmpty(); }));
        QCOMPARE(run.outcome().kind, ReplyOutcome::failed);
        QCOMPARE(run.outcome().issue,
            (AppIssue{ "No free model is available right now.", "No models were available to try." }));
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
        QCOMPARE(run.outcomes, QList<ReplyOutcome>{ answer("routed-model", {}, "vendor/routed-model:free") });
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
        run.job->start();
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
        run.job->start();
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
        const auto abandon = [&run] { run.job->cancel(); };
        if (when == AbandonWhen::insideText)
            connect(run.job, &ReplyWithFallback::textArrived, this, abandon);
        if (when == AbandonWhen::whileCooling)
            connect(h.ranker.get(), &ModelRanker::coolingChanged, this, abandon);
        run.job->start();
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
        QVERIFY(testsupport::waitForDeletion(run.job));
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
