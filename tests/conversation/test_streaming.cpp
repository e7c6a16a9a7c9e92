// Streamed text into the reply: batching, the held-back flush, stop, and
// what a stopped or replaced generation's stream may still send.

#include "ConversationHarness.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace convkit;
using namespace std::chrono_literals;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");

struct ManualClock {
    std::chrono::nanoseconds now{ 0 };
    ChatViewModel::Clock function()
    {
        return [this] { return now; };
    }
};

} // namespace

class StreamingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void piecesAreBatchedPerInterval()
    {
        Harness h;
        h.useModels({ alpha });
        ManualClock clock;
        h.vm->setClock(clock.function());
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "never" }, { 0 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.vm->isThinking());

        // A flush is announced as the reply's change alone: nothing that does
        // not show the streaming text hears of it.
        QSignalSpy changes(h.vm.get(), &ChatViewModel::replyChanged);
        QSignalSpy others(h.vm.get(), &ChatViewModel::chatChanged);
        QSignalSpy titles(h.vm.get(), &ChatViewModel::titleChanged);
        h.vm->replyRun()->receive(QStringLiteral("a")); // the first piece shows at once
        QCOMPARE(h.lastMessage().text, QStringLiteral("a"));
        QVERIFY(!h.vm->isThinking());
        clock.now = 20ms;
        h.vm->replyRun()->receive(QStringLiteral("b"));
        clock.now = 40ms; // not more than the interval yet
        h.vm->replyRun()->receive(QStringLiteral("c"));
        QCOMPARE(h.lastMessage().text, QStringLiteral("a"));
        QVERIFY(h.vm->replyRun()->isFlushScheduled());
        clock.now = 41ms;
        h.vm->replyRun()->receive(QStringLiteral("d"));
        QCOMPARE(h.lastMessage().text, QStringLiteral("abcd"));
        QVERIFY(!h.vm->replyRun()->isFlushScheduled());
        QCOMPARE(changes.size(), 2);
        QCOMPARE(others.size(), 0);
        QCOMPARE(titles.size(), 0);

        // A held-back piece is shown when the interval ends, with no further piece.
        clock.now = 50ms;
        h.vm->replyRun()->receive(QStringLiteral("e"));
        QVERIFY(h.vm->replyRun()->isFlushScheduled());
        h.vm->replyRun()->fireScheduledFlush();
        QCOMPARE(h.lastMessage().text, QStringLiteral("abcde"));

        // Stop keeps a piece still held back.
        clock.now = 60ms;
        h.vm->replyRun()->receive(QStringLiteral("f"));
        QCOMPARE(h.lastMessage().text, QStringLiteral("abcde"));
        h.vm->stop();
        QCOMPARE(h.lastMessage().text, QStringLiteral("abcdef"));
        QCOMPARE(h.stored(h.vm->chat().id)->messages.last().text, QStringLiteral("abcdef"));
    }

    void heldBackTextShowsDuringAPause()
    {
        Harness h;
        h.useModels({ alpha });
        ManualClock clock; // frozen: every piece after the first is held back
        h.vm->setClock(clock.function());
        // The fourth event ("C") waits, as a model that pauses would.
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "A", "B", "C" }, { 3 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("AB"); }));
        QCOMPARE(h.fake.heldSteps(), 1);
        QVERIFY(h.vm->isStreaming());
        QVERIFY(h.fake.release());
        QVERIFY(h.waitIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("ABC"));
    }

    void chatChangesStayWithinTheFlushRate()
    {
        Harness h;
        h.useModels({ alpha });
        QStringList pieces;
        QString expected;
        for (int i = 0; i < 3000; ++i) {
            pieces.append(QStringLiteral("w%1 ").arg(i));
            expected += pieces.last();
        }
        h.fake.enqueueChat(alpha.id, fake::Reply::stream(alpha.id, pieces));
        int changes = 0;
        connect(h.vm.get(), &ChatViewModel::replyChanged, this, [&] { ++changes; });
        QSignalSpy saves(h.store.get(), &ChatStore::summariesChanged);
        QElapsedTimer streaming;
        streaming.start();
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        const qint64 elapsedMs = streaming.elapsed();
        QCOMPARE(saves.size(), 2); // the question, then the answer: never while text streams
        QCOMPARE(h.lastMessage().text, expected);
        // One change per interval, plus the first piece and the end.
        QVERIFY2(changes <= elapsedMs / 40 + 4,
            qPrintable(QStringLiteral("%1 changes in %2 ms").arg(changes).arg(elapsedMs)));
    }

    void stopBeforeAnyTextRemovesTheReply()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "late" }, { 0 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitChatRequests(1));
        h.vm->stop();
        QVERIFY(!h.vm->isStreaming());
        QVERIFY(!h.vm->isThinking());
        QCOMPARE(h.vm->chat().messages.size(), 1);
        QCOMPARE(h.vm->status(), ChatViewModel::ready);
        QCOMPARE(h.vm->issue(), std::nullopt);
        QCOMPARE(h.stored(h.vm->chat().id)->messages.size(), 1);
        // Stop aborts the transfer.
        QVERIFY(testsupport::waitFor([&] { return h.fake.clientCloses() == 1; }));
        QCOMPARE(h.fake.heldSteps(), 0);
        QCOMPARE(h.vm->chat().messages.size(), 1);
    }

    void stopKeepsThePartialAnswer()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "Partial", " rest" }, { 2 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("Partial"); }));
        QVERIFY(testsupport::waitFor([&] { return h.fake.heldSteps() == 1; }));
        h.vm->stop();
        QCOMPARE(h.lastMessage().text, QStringLiteral("Partial"));
        QCOMPARE(h.lastMessage().answeredBy, std::nullopt);
        QCOMPARE(h.stored(h.vm->chat().id)->messages.last().text, QStringLiteral("Partial"));
        // Text of the stopped stream that the fake still sends is ignored.
        QCOMPARE(h.fake.releaseAll(), 1);
        QVERIFY(testsupport::waitFor([&] { return h.fake.openConnections() == 0; }));
        QCOMPARE(h.lastMessage().text, QStringLiteral("Partial"));
        QCOMPARE(h.vm->currentModelName(), std::nullopt);
    }

    // A stopped generation's stream that the fake still finishes, after a
    // new generation started, must not finish the new one or write into
    // either reply.
    void staleSuccessChangesNothing()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "Old" }, { 2 }));
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "New" }, { 0 }));
        h.say(QStringLiteral("first"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("Old"); }));
        QVERIFY(testsupport::waitFor([&] { return h.fake.heldSteps() == 1; }));
        const QUuid oldReply = h.lastMessage().id;
        h.vm->stop();
        QCOMPARE(h.fake.releaseAll(), 1); // the rest of the old stream, a success
        h.say(QStringLiteral("second"));
        QVERIFY(h.waitChatRequests(2));
        const QUuid newReply = h.lastMessage().id;
        // The old connection is done with; the new one waits.
        QVERIFY(testsupport::waitFor([&] { return h.fake.openConnections() == 1; }));

        QVERIFY(h.vm->isStreaming());
        QVERIFY(h.vm->isThinking());
        QCOMPARE(h.vm->currentModelName(), std::nullopt);
        const Chat chat = h.vm->chat();
        QCOMPARE(chat.messages.size(), 4);
        QCOMPARE(chat.messages.at(1).id, oldReply);
        QCOMPARE(chat.messages.at(1).text, QStringLiteral("Old"));
        QCOMPARE(chat.messages.at(1).answeredBy, std::nullopt);
        QCOMPARE(chat.messages.at(3).id, newReply);
        QCOMPARE(chat.messages.at(3).answeredBy, std::nullopt);
        // Stop still ends the new generation.
        h.vm->stop();
        QVERIFY(!h.vm->isStreaming());
        QCOMPARE(h.vm->chat().messages.size(), 3);
    }

    // The transfer aborted by Qt's own inactivity time-out, mid-answer: the
    // half that arrived is kept, marked as cut, for Continue.
    void stalledTransferKeepsTheHalfAnswer()
    {
        Harness h;
        h.ranker->offer = QList<ORModel>{ alpha };
        h.client->setInactivityTimeoutMs(200);
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "Half", " never" }, { 2 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(!h.vm->issue());
        QCOMPARE(h.vm->status(), ChatViewModel::ready);
        QCOMPARE(h.lastMessage().text, QStringLiteral("Half"));
        QCOMPARE(h.lastMessage().cut, std::optional(AnswerCut::connection));
        QVERIFY(h.vm->canContinue());
    }

    void destroyedControllerGetsNothing()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "A", "B" }, { 2 }));
        h.say(QStringLiteral("hello"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("A"); }));
        h.vm.reset(); // cancels the stream: no delivery may reach the dead controller
        QVERIFY(testsupport::waitFor([&] { return h.fake.clientCloses() == 1; }));
        QTest::qWait(20); // the cancelled outcome, queued, is delivered meanwhile
    }
};

QTEST_MAIN(StreamingTest)
#include "test_streaming.moc"
