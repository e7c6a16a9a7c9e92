// Sending and the generation with fallback, end to end: the controller over a
// real ranker, store and client, against the fake service.

#include "ConversationHarness.h"
#include "FakeFixtures.h"
#include "TestSupport.h"
#include "conversation/SystemPrompt.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace convkit;
using Status = ChatViewModel::Status;

Q_DECLARE_METATYPE(fake::Reply)

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");
const ORModel gammaModel = model("vendor/gamma:free", "Gamma");
const ORModel deltaModel = model("vendor/delta:free", "Delta");
const ORModel epsilon = model("vendor/epsilon:free", "Epsilon");
const ORModel seeing = model("vendor/seeing:free", "Seeing", 64000, true);

const QString prefix = QStringLiteral("Every free model I tried failed. Last problem: ");

fake::Reply heldFirstEvent(const QString &id)
{
    fake::StreamOptions options;
    options.holdAt = { 0 };
    return fake::Reply::stream(id, { QStringLiteral("too late") }, options);
}

QImage picture()
{
    QImage image(QSize(40, 30), QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    return image;
}

QJsonArray sentMessages(const fake::Request &request)
{
    return request.json().value(QStringLiteral("messages")).toArray();
}

} // namespace

class GenerationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { SystemPrompt::write(QString()); }

    void answerIsSignedAndSaved()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, fake::Reply::stream(alpha.id, { "Hello", " there." }));
        h.say(QStringLiteral("  Hi\nsecond line"));
        QVERIFY(h.vm->isStreaming());
        QVERIFY(h.waitIdle());
        const Chat &chat = h.vm->chat();
        QCOMPARE(chat.title, QStringLiteral("Hi"));
        QCOMPARE(chat.messages.size(), 2);
        QCOMPARE(chat.messages.first().text, QStringLiteral("Hi\nsecond line"));
        QCOMPARE(h.lastMessage().text, QStringLiteral("Hello there."));
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("Alpha"));
        QCOMPARE(h.lastMessage().note, std::nullopt);
        QCOMPARE(h.vm->currentModelName(), std::optional<QString>("Alpha"));
        QCOMPARE(h.vm->status(), ChatViewModel::ready);
        QVERIFY(!h.vm->isThinking());
        QCOMPARE(h.vm->draft(), QString());
        const std::optional<Chat> stored = h.stored(chat.id);
        QVERIFY(stored);
        QCOMPARE(stored->messages.size(), 2);
        QCOMPARE(stored->messages.last().answeredBy, std::optional<QString>("Alpha"));
        // Nothing on a token limit; no system prompt when none is set.
        const fake::Request request = h.fake.chatRequests().first();
        QVERIFY(!request.json().contains(QStringLiteral("max_tokens")));
        QCOMPARE(sentMessages(request).size(), 1);
    }

    void blankDraftDoesNothing()
    {
        Harness h;
        h.say(QStringLiteral("  \n\t "));
        QVERIFY(h.vm->chat().messages.isEmpty());
        QCOMPARE(h.vm->draft(), QStringLiteral("  \n\t "));
        QVERIFY(!h.vm->isStreaming());
        QVERIFY(h.store->summaries().isEmpty());
    }

    void imageAloneIsSentUnderTheTitleImage()
    {
        Harness h;
        h.useModels({ seeing });
        h.vm->attach(picture());
        h.say(QStringLiteral("   "));
        QVERIFY(h.waitIdle());
        const ChatMessage &sent = h.vm->chat().messages.first();
        QCOMPARE(sent.text, QString());
        QCOMPARE(sent.images.size(), 1);
        QCOMPARE(h.vm->chat().title, QStringLiteral("Image"));
        QVERIFY(h.vm->attachments().isEmpty());
        // Only a model that sees images is asked, with the image alone.
        const fake::Request request = h.fake.chatRequests().first();
        QCOMPARE(request.model(), seeing.id);
        const QJsonArray parts = sentMessages(request).first().toObject().value("content").toArray();
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.first().toObject().value("type").toString(), QStringLiteral("image_url"));
    }

    void secondSendWhileStreamingChangesNothing()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, heldFirstEvent(alpha.id));
        h.say(QStringLiteral("first"));
        QVERIFY(h.waitChatRequests(1));
        h.say(QStringLiteral("second"));
        QCOMPARE(h.vm->chat().messages.size(), 2);
        QCOMPARE(h.vm->draft(), QStringLiteral("second"));
        QCOMPARE(h.fake.chatRequests().size(), 1);
        h.vm->stop();
    }

    void blindPinnedModelKeepsTheDraft()
    {
        Harness h;
        h.useModels({ alpha, seeing });
        h.vm->pin(alpha.id);
        h.vm->attach(picture());
        h.vm->setDraft(QStringLiteral("what is this?"));
        h.vm->send();
        QCOMPARE(h.vm->imageNotice(), std::optional(ImageNotice{ ImageNotice::text, seeing }));
        QCOMPARE(h.vm->draft(), QStringLiteral("what is this?"));
        QCOMPARE(h.vm->attachments().size(), 1);
        QVERIFY(h.vm->chat().messages.isEmpty());
        QVERIFY(!h.vm->isStreaming());
    }

    void noKeyNoGeneration()
    {
        Harness h;
        h.vm->keyProvider = [] { return std::optional<QString>(); };
        h.say(QStringLiteral("hello"));
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QVERIFY(!h.vm->isStreaming());
        QVERIFY(h.stored(h.vm->chat().id));
        h.store->drain();
        QVERIFY(h.fake.chatRequests().isEmpty());
    }

    void slowFirstModelIsLeftForTheNext()
    {
        Harness h;
        h.useModels({ alpha, beta });
        // Two seconds is far longer than a loopback request takes even on a
        // loaded machine, should the next model start before the reset below.
        h.vm->setFirstChunkDeadline(2.0);
        h.fake.enqueueChat(alpha.id, heldFirstEvent(alpha.id));
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { "Fine", "." }));
        // Only the first model runs on the short deadline: the next one may
        // take its time, however loaded the machine.
        connect(&h.fake, &fake::FakeService::requestReceived, h.vm.get(),
            [&h] { h.vm->setFirstChunkDeadline(ChatViewModel::firstChunkDeadline); });
        QList<Status> statuses;
        connect(h.vm.get(), &ChatViewModel::statusChanged, this, [&] { statuses.append(h.vm->status()); });
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Fine."));
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("Beta"));
        QCOMPARE(h.lastMessage().note,
            std::optional<QString>("switched from Alpha because it was slow to respond"));
        QCOMPARE(statuses, (QList<Status>{ ChatViewModel::switching, ChatViewModel::ready }));
        QVERIFY(h.ranker->isCooling(alpha.id));
        QVERIFY(!h.ranker->isCooling(beta.id));
        QCOMPARE(h.vm->issue(), std::nullopt);
    }

    void everyModelSlowFourTried()
    {
        Harness h;
        h.useModels({ alpha, beta, gammaModel, deltaModel, epsilon });
        h.vm->setFirstChunkDeadline(0.1);
        for (const ORModel &m : { alpha, beta, gammaModel, deltaModel, epsilon })
            h.fake.enqueueChat(m.id, heldFirstEvent(m.id));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QStringList asked;
        for (const fake::Request &request : h.fake.chatRequests())
            asked.append(request.model());
        QCOMPARE(asked, (QStringList{ alpha.id, beta.id, gammaModel.id, deltaModel.id }));
        const QString line = QStringLiteral(": No data arrived before the time limit.");
        QCOMPARE(h.vm->issue(),
            std::optional(AppIssue{ prefix + "The model took too long to start answering.",
                "Alpha" + line + "\nBeta" + line + "\nGamma" + line + "\nDelta" + line }));
        QCOMPARE(h.vm->status(), ChatViewModel::failing);
        QCOMPARE(h.vm->chat().messages.size(), 1); // the empty reply is gone
        QCOMPARE(h.stored(h.vm->chat().id)->messages.size(), 1);
    }

    void noCandidatesAtAll()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        h.say(QStringLiteral("hello"));
        QVERIFY(!h.vm->isStreaming());
        QCOMPARE(h.vm->issue(),
            std::optional(
                AppIssue{ "No free model is available right now.", "No models were available to try." }));
        QCOMPARE(h.vm->status(), ChatViewModel::failing);
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QVERIFY(h.fake.chatRequests().isEmpty());
    }

    void routerAloneFailsAfterOneAttempt()
    {
        Harness h; // a fresh ranker offers the router alone
        h.fake.enqueueChat(ModelRanker::routerID, fake::replies::providerError(502));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.fake.chatRequests().size(), 1);
        QVERIFY(h.vm->issue());
        QCOMPARE(h.vm->issue()->message, prefix + "The model's provider had a problem (status 502).");
        QVERIFY(h.vm->issue()->details.startsWith("Free Models Router: HTTP 502: Provider returned error"));
        QVERIFY(!h.vm->issue()->details.contains('\n'));
    }

    void routedAnswerNamedByTheServedModel()
    {
        Harness h; // the fake's router reports "vendor/routed-model:free"
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Hello there."));
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("routed-model"));
    }

    void dailyLimitEndsAtOnce()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, fake::replies::dailyLimit());
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.fake.chatRequests().size(), 1);
        QVERIFY(h.vm->issue());
        QCOMPARE(h.vm->issue()->message, ORError::rateLimited(QString(), std::nullopt, true).message());
        QVERIFY(h.vm->issue()->details.startsWith("Alpha: Rate limit exceeded: free-models-per-day."));
        QVERIFY(!h.ranker->isCooling(alpha.id));
        QCOMPARE(h.vm->status(), ChatViewModel::failing);
    }

    // The key and the conversation never follow a redirect: every model
    // "fails", the other origin hears nothing, and no answer is kept.
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
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(elsewhere.requests().isEmpty());
        QCOMPARE(h.vm->status(), ChatViewModel::failing);
        QVERIFY(h.vm->issue());
        QVERIFY(h.vm->issue()->details.contains(QString::number(status)));
        h.store->drain();
        const std::optional<Chat> stored = h.stored(h.vm->chat().id);
        QVERIFY(stored);
        QCOMPARE(stored->messages.size(), 1);
    }

    void rejectedKeySignsOut()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, fake::replies::unauthorized());
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.unauthorizedCalls, 1);
        QCOMPARE(h.fake.chatRequests().size(), 1);
        QCOMPARE(h.vm->issue(), std::nullopt);
        QCOMPARE(h.vm->status(), ChatViewModel::ready);
        QVERIFY(!h.vm->isThinking());
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QCOMPARE(h.stored(h.vm->chat().id)->messages.size(), 1);
        QVERIFY(!h.ranker->isCooling(alpha.id));
    }

    void firstFailureNamesTheReason_data()
    {
        QTest::addColumn<fake::Reply>("failure");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("coolSeconds");
        QTest::newRow("needs credit")
            << fake::Reply::error(402, "Insufficient credits.") << "it needs credit" << 600;
        QTest::newRow("gone") << fake::replies::noEndpoints(alpha.id) << "it is no longer available" << 600;
        QTest::newRow("empty reply") << fake::Reply::stream(alpha.id, {}) << "it sent an empty reply" << 600;
        QTest::newRow("provider error") << fake::replies::providerError(502) << "it was busy" << 600;
        QTest::newRow("rate limited")
            << fake::replies::minuteLimit(QByteArray("1800")) << "it was busy" << 1800;
        QTest::newRow("error mid-stream")
            << fake::Reply::streamError(alpha.id, { "Partial " }, 502, "Provider returned error")
            << "it was busy" << 600;
    }
    void firstFailureNamesTheReason()
    {
        QFETCH(fake::Reply, failure);
        QFETCH(QString, reason);
        QFETCH(int, coolSeconds);
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, failure);
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { "Second", " answer" }));
        // What the reply holds when the next model is asked.
        QString textAtNextRequest = QStringLiteral("unset");
        connect(&h.fake, &fake::FakeService::requestReceived, this, [&](const fake::Request &request) {
            if (request.model() == beta.id)
                textAtNextRequest = h.lastMessage().text;
        });
        const QDateTime before = QDateTime::currentDateTimeUtc();
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(textAtNextRequest, QString());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Second answer"));
        QCOMPARE(h.lastMessage().note, std::optional("switched from Alpha because " + reason));
        const qint64 cooled = before.secsTo(h.ranker->cooling().value(alpha.id));
        QVERIFY2(
            cooled >= coolSeconds - 5 && cooled <= coolSeconds + 60, qPrintable(QString::number(cooled)));
    }

    void promptAndPinAreReadAnewEachAttempt()
    {
        Harness h;
        h.useModels({ alpha, beta, gammaModel });
        SystemPrompt::write(QStringLiteral("First prompt"));
        fake::Reply failure = fake::replies::providerError(503);
        failure.holdHead = true;
        h.fake.enqueueChat(alpha.id, failure);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitChatRequests(1));
        SystemPrompt::write(QStringLiteral("Second prompt"));
        h.vm->pin(gammaModel.id);
        QVERIFY(h.fake.release());
        QVERIFY(h.waitIdle());
        const QList<fake::Request> requests = h.fake.chatRequests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(1).model(), gammaModel.id);
        const auto system = [](const fake::Request &r) {
            return sentMessages(r).first().toObject().value("content").toString();
        };
        QCOMPARE(system(requests.at(0)), QStringLiteral("First prompt"));
        QCOMPARE(system(requests.at(1)), QStringLiteral("Second prompt"));
        QCOMPARE(h.ranker->pinsAsked.last(), std::optional<QString>(gammaModel.id));
    }

    void regenerateReplacesTheLastAnswer()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, fake::Reply::stream(alpha.id, { "First answer" }));
        h.fake.enqueueChat(alpha.id, fake::Reply::stream(alpha.id, { "Better answer" }));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        h.vm->regenerate();
        QVERIFY(h.vm->isStreaming());
        QVERIFY(h.waitIdle());
        QCOMPARE(h.vm->chat().messages.size(), 2);
        QCOMPARE(h.lastMessage().text, QStringLiteral("Better answer"));
        // The answer being replaced is not sent back.
        QCOMPARE(sentMessages(h.fake.chatRequests().at(1)).size(), 1);
        h.store->drain();
        QCOMPARE(h.stored(h.vm->chat().id)->messages.last().text, QStringLiteral("Better answer"));
    }

    void regenerateAfterAUserMessageDoesNothing()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        h.say(QStringLiteral("hello"));
        const std::optional<AppIssue> issue = h.vm->issue();
        QVERIFY(issue);
        h.vm->regenerate();
        QVERIFY(!h.vm->isStreaming());
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QCOMPARE(h.vm->issue(), issue);
    }
};

QTEST_MAIN(GenerationTest)
#include "test_generation.moc"
