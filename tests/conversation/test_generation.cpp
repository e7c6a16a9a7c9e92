// Sending and the generation, end to end: the controller over a real ranker,
// store and client, against the fake service; how the reply's end shows in
// the chat. The walk across models is the reply job's (test_reply_with_fallback).

#include "ConversationHarness.h"
#include "FakeFixtures.h"
#include "TestSupport.h"
#include "core/conversation/SystemPrompt.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace convkit;
using Status = ChatViewModel::Status;

Q_DECLARE_METATYPE(fake::Reply)
Q_DECLARE_METATYPE(std::optional<AnswerCut>)

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");
const ORModel seeing = model("vendor/seeing:free", "Seeing", 64000, true);

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

fake::Reply ending(
    const QStringList &pieces, const QString &finish, bool done = true, const QStringList &reasoning = {})
{
    fake::StreamOptions options;
    options.finishReason = finish;
    options.sendDone = done;
    options.reasoning = reasoning;
    return fake::Reply::stream(alpha.id, pieces, options);
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
        QVERIFY(!h.vm->hasSomethingToSend());
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
        h.vm->setDraft(QStringLiteral("   "));
        QVERIFY(h.vm->hasSomethingToSend());
        h.vm->send();
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

    // Nor does the issue's Try again, which may be pressed as the issue
    // box goes away.
    void secondSendWhileStreamingChangesNothing()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "too late" }, { 0 }));
        h.say(QStringLiteral("first"));
        QVERIFY(h.waitChatRequests(1));
        const QUuid reply = h.lastMessage().id;
        h.vm->retry();
        h.say(QStringLiteral("second"));
        QCOMPARE(h.lastMessage().id, reply);
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

    // No model at all: the reply fails from inside send(), before anything
    // could be asked.
    void noCandidatesAtAll()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(!h.vm->isThinking());
        QCOMPARE(h.vm->issue(),
            std::optional(
                AppIssue{ "No free model is available right now.", "No models were available to try." }));
        QCOMPARE(h.vm->status(), ChatViewModel::failing);
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QVERIFY(h.fake.chatRequests().isEmpty());
    }

    // How each end of a reply shows in the chat and is saved. The second
    // model answers when asked.
    void replyEndsInTheChat_data()
    {
        QTest::addColumn<fake::Reply>("first");
        QTest::addColumn<QList<Status>>("statuses");
        QTest::addColumn<QString>("note"); // empty: no answer is kept
        QTest::addColumn<bool>("issue");
        QTest::addColumn<int>("signOuts");
        QTest::newRow("switch after an error mid-stream")
            << fake::Reply::streamError(alpha.id, { "Partial " }, 502, "Provider returned error")
            << QList<Status>{ ChatViewModel::switching, ChatViewModel::ready }
            << "switched from Alpha because it was busy" << false << 0;
        QTest::newRow("daily limit") << fake::replies::dailyLimit() << QList<Status>{ ChatViewModel::failing }
                                     << QString() << true << 0;
        QTest::newRow("switch after the filter stopped a reasoning model")
            << fake::Reply::stream(alpha.id, {},
                   [] {
                       fake::StreamOptions o;
                       o.reasoning = QStringList{ "Thinking it over" };
                       o.finishReason = QStringLiteral("content_filter");
                       return o;
                   }())
            << QList<Status>{ ChatViewModel::switching, ChatViewModel::ready }
            << "switched from Alpha because it sent an empty reply" << false << 0;
        QTest::newRow("rejected key")
            << fake::replies::unauthorized() << QList<Status>() << QString() << false << 1;
    }
    void replyEndsInTheChat()
    {
        QFETCH(fake::Reply, first);
        QFETCH(QList<Status>, statuses);
        QFETCH(QString, note);
        QFETCH(bool, issue);
        QFETCH(int, signOuts);
        Harness h;
        h.failThenAnswer(alpha, first, beta);
        // What the reply holds when the next model is asked.
        QString textAtNextRequest = QStringLiteral("unset");
        connect(&h.fake, &fake::FakeService::requestReceived, this, [&](const fake::Request &request) {
            if (request.model() == beta.id)
                textAtNextRequest = h.lastMessage().text;
        });
        QList<Status> seen;
        connect(h.vm.get(), &ChatViewModel::statusChanged, this, [&] { seen.append(h.vm->status()); });
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(!h.vm->isThinking());
        QCOMPARE(seen, statuses);
        if (note.isEmpty()) {
            QCOMPARE(h.vm->chat().messages.size(), 1);
        } else {
            // Nothing of the failed model's stays, its reasoning included.
            QCOMPARE(textAtNextRequest, QString());
            QCOMPARE(h.lastMessage().reasoning, std::nullopt);
            QCOMPARE(h.lastMessage().text, QStringLiteral("Second answer"));
            QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("Beta"));
            QCOMPARE(h.lastMessage().note, std::optional(note));
            QCOMPARE(h.vm->currentModelName(), std::optional<QString>("Beta"));
        }
        QCOMPARE(h.vm->issue().has_value(), issue);
        QCOMPARE(h.unauthorizedCalls, signOuts);
        QCOMPARE(h.stored(h.vm->chat().id)->messages, h.vm->chat().messages);
    }

    // A cut answer is kept with its mark, a reasoning with how long it
    // took, in the chat and in its file.
    void answerKeepsHowItEnded_data()
    {
        QTest::addColumn<fake::Reply>("reply");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<AnswerCut>>("cut");
        QTest::addColumn<QString>("reasoning");
        QTest::addColumn<bool>("canContinue");
        const std::optional<AnswerCut> whole;
        QTest::newRow("cut by its length limit") << ending({ "Half an", " answ" }, "length") << "Half an answ"
                                                 << std::optional(AnswerCut::length) << "" << true;
        QTest::newRow("stopped by a filter") << ending({ "Half" }, "content_filter") << "Half"
                                             << std::optional(AnswerCut::filter) << "" << false;
        QTest::newRow("the connection closed") << ending({ "Half" }, QString(), false) << "Half"
                                               << std::optional(AnswerCut::connection) << "" << true;
        QTest::newRow("reasoned, then answered") << ending({ "Four." }, "stop", true, { "Two and", " two." })
                                                 << "Four." << whole << "Two and two." << false;
        QTest::newRow("a refusal is the answer") << fake::Reply::events({ fake::sse::roleChunk(alpha.id),
            QJsonObject{ { "model", alpha.id },
                { "choices",
                    QJsonArray{ QJsonObject{
                        { "delta",
                            QJsonObject{ { "content", QJsonValue::Null }, { "refusal", "I can't." } } },
                        { "finish_reason", "stop" } } } } } })
                                                 << "I can't." << whole << "" << false;
    }
    void answerKeepsHowItEnded()
    {
        QFETCH(fake::Reply, reply);
        QFETCH(QString, text);
        QFETCH(std::optional<AnswerCut>, cut);
        QFETCH(QString, reasoning);
        QFETCH(bool, canContinue);
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, reply);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, text);
        QCOMPARE(h.lastMessage().cut, cut);
        QCOMPARE(h.lastMessage().reasoning.value_or(QString()), reasoning);
        QCOMPARE(h.lastMessage().reasoningSeconds.has_value(), !reasoning.isEmpty());
        QCOMPARE(h.lastMessage().modelId, std::optional(alpha.id));
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("Alpha"));
        QCOMPARE(h.vm->canContinue(), canContinue);
        h.store->drain();
        QCOMPARE(h.stored(h.vm->chat().id)->messages.last(), h.lastMessage());
    }

    // Continue asks the model that answered for the rest of a cut answer.
    void continueAnswer_data()
    {
        QTest::addColumn<fake::Reply>("rest");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<AnswerCut>>("cut");
        QTest::addColumn<QString>("issue");
        QTest::newRow("completes it")
            << ending({ "er." }, "stop") << "Half an answer." << std::optional<AnswerCut>() << "";
        QTest::newRow("cut again") << ending({ "er, and" }, "length") << "Half an answer, and"
                                   << std::optional(AnswerCut::length) << "";
        QTest::newRow("fails: the answer stays as it was")
            << fake::Reply::streamError(alpha.id, { "er" }, 502, "Provider returned error") << "Half an answ"
            << std::optional(AnswerCut::length) << "The model's provider had a problem (status 502).";
    }
    void continueAnswer()
    {
        QFETCH(fake::Reply, rest);
        QFETCH(QString, text);
        QFETCH(std::optional<AnswerCut>, cut);
        QFETCH(QString, issue);
        Harness h;
        h.useModels({ beta, alpha });
        h.fake.enqueueChat(beta.id, fake::replies::providerError(503));
        h.fake.enqueueChat(alpha.id, ending({ "Half an", " answ" }, "length"));
        h.fake.enqueueChat(alpha.id, rest);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        const std::optional<QString> note = h.lastMessage().note;
        QVERIFY(h.vm->canContinue());
        h.vm->continueAnswer();
        QVERIFY(h.vm->isStreaming());
        QVERIFY(!h.vm->canContinue());
        QVERIFY(h.waitIdle());
        // The model that answered, alone, with the cut answer as the last
        // message, which the service asks it to complete.
        QCOMPARE(h.fake.chatRequests().size(), 3);
        const fake::Request asked = h.fake.chatRequests().last();
        QCOMPARE(asked.model(), alpha.id);
        const QJsonObject last = sentMessages(asked).last().toObject();
        QCOMPARE(last.value("role").toString(), QStringLiteral("assistant"));
        QCOMPARE(last.value("content").toString(), QStringLiteral("Half an answ"));
        QCOMPARE(h.vm->chat().messages.size(), 2);
        QCOMPARE(h.lastMessage().text, text);
        QCOMPARE(h.lastMessage().cut, cut);
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>("Alpha"));
        QCOMPARE(h.lastMessage().note, note);
        QCOMPARE(h.vm->issue().value_or(AppIssue{}).message, issue);
        h.store->drain();
        QCOMPARE(h.stored(h.vm->chat().id)->messages.last(), h.lastMessage());
        if (issue.isEmpty())
            return;
        // Its Try again continues again, and only that.
        h.fake.enqueueChat(alpha.id, ending({ "er." }, "stop"));
        h.vm->retry();
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Half an answer."));
        QCOMPARE(h.lastMessage().cut, std::nullopt);
        QCOMPARE(h.vm->chat().messages.size(), 2);
    }

    // Waiting for the account's per-minute limit shows until when, and the
    // wait ends when the model is asked again.
    void waitForTheMinuteIsShown()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, fake::replies::minuteLimitFor(1000));
        fake::Reply answer = fake::Reply::stream(alpha.id, { "Fine." });
        answer.holdHead = true;
        h.fake.enqueueChat(alpha.id, answer);
        QList<bool> waits;
        connect(h.vm.get(), &ChatViewModel::limitWaitChanged, this,
            [&] { waits.append(h.vm->limitWait().has_value()); });
        h.say(QStringLiteral("hello"));
        QVERIFY(testsupport::waitFor([&] { return h.vm->limitWait().has_value(); }));
        QVERIFY(h.vm->isThinking());
        QVERIFY(h.vm->limitWait()->remainingTime() <= 3000);
        QVERIFY(h.waitChatRequests(2));
        QVERIFY(!h.vm->limitWait());
        QVERIFY(h.fake.release());
        QVERIFY(h.waitIdle());
        QCOMPARE(waits, (QList<bool>{ true, false }));
        QCOMPARE(h.lastMessage().text, QStringLiteral("Fine."));
        QCOMPARE(h.lastMessage().note, std::nullopt);
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

    // A failed reply left the question last: regenerate does nothing, the
    // issue's Try again asks anew.
    void afterAFailureRegenerateDoesNothingTryAgainAsks()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>();
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        const std::optional<AppIssue> issue = h.vm->issue();
        QVERIFY(issue);
        h.vm->regenerate();
        QVERIFY(!h.vm->isStreaming());
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QCOMPARE(h.vm->issue(), issue);

        h.ranker->offer = QList<ORModel>{ alpha };
        h.vm->retry();
        QVERIFY(h.vm->isStreaming());
        QCOMPARE(h.vm->issue(), std::nullopt);
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Hello there."));
    }
};

QTEST_MAIN(GenerationTest)
#include "test_generation.moc"
