// Opening, renaming, deleting and pinning chats, and image attachments, on
// the controller.

#include "ConversationHarness.h"
#include "TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace convkit;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel blind = model("vendor/blind:free", "Blind");
const ORModel seeing = model("vendor/seeing:free", "Seeing", 64000, true);

QImage picture(QColor colour = Qt::darkBlue)
{
    QImage image(QSize(60, 40), QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

fake::Reply heldAfterFirstPiece(const QString &id)
{
    fake::StreamOptions options;
    options.holdAt = { 2 };
    return fake::Reply::stream(id, { QStringLiteral("Partial"), QStringLiteral(" rest") }, options);
}

// A chat answered and saved, then left for a fresh one.
QUuid answeredChat(Harness &h, const QString &text)
{
    h.say(text);
    if (!h.waitIdle())
        qFatal("no answer");
    const QUuid id = h.vm->chat().id;
    h.vm->newChat();
    return id;
}

} // namespace

class ChatOperationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newChatWhileStreamingKeepsThePartialAnswer()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, heldAfterFirstPiece(alpha.id));
        h.say(QStringLiteral("hello"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("Partial"); }));
        const QUuid old = h.vm->chat().id;
        h.vm->setDraft(QStringLiteral("typed"));
        h.vm->attach(picture());
        const int focus = h.vm->focusToken();
        h.vm->newChat();
        QVERIFY(!h.vm->isStreaming());
        QVERIFY(h.vm->chat().id != old);
        QCOMPARE(h.vm->chat().title, QStringLiteral("New chat"));
        QVERIFY(h.vm->chat().messages.isEmpty());
        QCOMPARE(h.vm->draft(), QString());
        QVERIFY(h.vm->attachments().isEmpty());
        QCOMPARE(h.vm->focusToken(), focus + 1);
        const std::optional<Chat> stored = h.stored(old);
        QVERIFY(stored);
        QCOMPARE(stored->messages.size(), 2);
        QCOMPARE(stored->messages.last().text, QStringLiteral("Partial"));
    }

    // Starting the new chat stops the reply, and stopping saves the chat:
    // the deletion has to come after that save, or the chat comes back.
    void deletingTheOpenChatWhileItStreamsKeepsItDeleted()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, heldAfterFirstPiece(alpha.id));
        h.say(QStringLiteral("Doomed"));
        const QUuid doomed = h.vm->chat().id;
        QVERIFY(testsupport::waitFor(
            [&] { return h.lastMessage().text == QLatin1String("Partial") && h.fake.heldSteps() == 1; }));
        const int focus = h.vm->focusToken();
        h.vm->deleteChat(doomed);
        QVERIFY(!h.vm->isStreaming());
        QVERIFY(h.vm->chat().id != doomed);
        QVERIFY(h.vm->chat().messages.isEmpty());
        QCOMPARE(h.vm->focusToken(), focus + 1);
        QCOMPARE(h.fake.releaseAll(), 1); // the rest of the stream, a success
        QVERIFY(testsupport::waitFor([&] { return h.fake.openConnections() == 0; }));
        h.store->drain();
        QVERIFY(h.store->summaries().isEmpty());
        QVERIFY(!h.stored(doomed));
        QVERIFY(!QFile::exists(h.store->chatPath(doomed)));
    }

    void emptyChatsAreNotStored()
    {
        Harness h;
        h.vm->newChat();
        h.vm->newChat();
        h.store->drain();
        QVERIFY(h.store->summaries().isEmpty());
        QVERIFY(QDir(h.store->dir()).entryList({ QStringLiteral("*-*.json") }).isEmpty());
    }

    void selectingTheOpenChatDoesNothing()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.enqueueChat(alpha.id, heldAfterFirstPiece(alpha.id));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitChatRequests(1));
        h.vm->setDraft(QStringLiteral("typed"));
        const int focus = h.vm->focusToken();
        h.vm->select(h.vm->chat().id);
        QVERIFY(h.vm->isStreaming());
        QCOMPARE(h.vm->draft(), QStringLiteral("typed"));
        QCOMPARE(h.vm->focusToken(), focus);
        h.vm->stop();
    }

    void selectOpensAChatSavedAMomentAgo()
    {
        Harness h;
        const QUuid first = answeredChat(h, QStringLiteral("first chat"));
        h.vm->rename(first, QStringLiteral("Renamed just now"));
        h.vm->setDraft(QStringLiteral("typed"));
        h.vm->attach(picture());
        const int focus = h.vm->focusToken();
        // The rename's write may still be queued: select must see it.
        h.vm->select(first);
        QCOMPARE(h.vm->chat().id, first);
        QCOMPARE(h.vm->chat().title, QStringLiteral("Renamed just now"));
        QCOMPARE(h.vm->chat().messages.size(), 2);
        QCOMPARE(h.vm->draft(), QString());
        QVERIFY(h.vm->attachments().isEmpty());
        QCOMPARE(h.vm->focusToken(), focus + 1);
        QCOMPARE(h.vm->status(), ChatViewModel::ready);
    }

    void selectOfAMissingChatKeepsTheOpenOne()
    {
        Harness h;
        h.useModels({ alpha });
        const QUuid gone = answeredChat(h, QStringLiteral("soon deleted"));
        h.store->remove(gone);
        h.store->drain();
        h.fake.enqueueChat(alpha.id, heldAfterFirstPiece(alpha.id));
        h.say(QStringLiteral("open one"));
        QVERIFY(testsupport::waitFor([&] { return h.lastMessage().text == QLatin1String("Partial"); }));
        const QUuid open = h.vm->chat().id;
        h.vm->setDraft(QStringLiteral("still here"));
        h.vm->select(gone);
        QCOMPARE(h.vm->chat().id, open);
        QVERIFY(!h.vm->isStreaming()); // stopped all the same
        QCOMPARE(h.vm->draft(), QStringLiteral("still here"));
        QCOMPARE(h.lastMessage().text, QStringLiteral("Partial"));
    }

    // A save that fails is shown apart from the answer's issue, keeps the
    // chat across a switch, and goes once a save lands.
    void aFailedSaveHasAnIssueOfItsOwn()
    {
        Harness h;
        const QUuid other = answeredChat(h, QStringLiteral("other chat"));
        const QUuid blocked = h.vm->chat().id;
        QVERIFY(QDir().mkpath(h.store->chatPath(blocked)));
        QSignalSpy changed(h.vm.get(), &ChatViewModel::saveIssueChanged);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        h.store->drain();
        QVERIFY(h.vm->saveIssue());
        QCOMPARE(h.vm->saveIssue()->message, QStringLiteral("Couldn't save this chat."));
        QVERIFY(!h.vm->saveIssue()->details.isEmpty());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(h.vm->issue(), std::nullopt);
        QCOMPARE(h.vm->status(), ChatViewModel::ready);

        h.vm->select(other);
        QCOMPARE(h.vm->saveIssue(), std::nullopt);
        h.vm->select(blocked);
        QCOMPARE(h.vm->chat().messages.size(), 2);
        QVERIFY(h.vm->saveIssue());

        QVERIFY(QDir().rmdir(h.store->chatPath(blocked)));
        const qsizetype requests = h.fake.chatRequests().size();
        h.vm->retrySave();
        h.store->drain();
        QCOMPARE(h.vm->saveIssue(), std::nullopt);
        QCOMPARE(h.fake.chatRequests().size(), requests); // the answer is not asked for again
        QCOMPARE(h.store->summaries().first().id, blocked);
        QCOMPARE(h.store->load(blocked)->messages, h.vm->chat().messages);
    }

    void renameTrimsAndLeavesTheOpenChatAlone()
    {
        Harness h;
        const QUuid other = answeredChat(h, QStringLiteral("other chat"));
        h.say(QStringLiteral("open chat"));
        QVERIFY(h.waitIdle());
        h.vm->rename(other, QStringLiteral("  Trip plans \n"));
        QCOMPARE(h.vm->chat().title, QStringLiteral("open chat"));
        QCOMPARE(h.stored(other)->title, QStringLiteral("Trip plans"));
        QCOMPARE(h.store->summaries().first().title, QStringLiteral("Trip plans"));

        h.vm->rename(h.vm->chat().id, QStringLiteral(" Mine "));
        QCOMPARE(h.vm->chat().title, QStringLiteral("Mine"));
        QCOMPARE(h.stored(h.vm->chat().id)->title, QStringLiteral("Mine"));

        h.vm->rename(other, QStringLiteral(" \n "));
        QCOMPARE(h.stored(other)->title, QStringLiteral("Trip plans"));
        h.vm->rename(QUuid::createUuid(), QStringLiteral("nobody")); // no such chat: nothing happens
        QCOMPARE(h.store->summaries().size(), 2);
    }

    void resetForgetsTheModelNameNewChatKeepsIt()
    {
        Harness h;
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(h.vm->currentModelName());
        const int focus = h.vm->focusToken();
        h.vm->newChat();
        QVERIFY(h.vm->currentModelName());
        h.vm->reset();
        QCOMPARE(h.vm->currentModelName(), std::nullopt);
        QCOMPARE(h.vm->focusToken(), focus + 1);
    }

    void pinClearsTheNoticeAndIsSaved()
    {
        Harness h;
        h.useModels({ blind, seeing });
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        h.vm->pin(blind.id);
        h.vm->attach(picture());
        QVERIFY(h.vm->imageNotice());
        h.vm->pin(std::nullopt);
        QCOMPARE(h.vm->imageNotice(), std::nullopt);
        QCOMPARE(h.vm->chat().pinnedModel, std::nullopt);
        h.vm->pin(alpha.id);
        QCOMPARE(h.stored(h.vm->chat().id)->pinnedModel, std::optional<QString>(alpha.id));
    }

    void attachmentsAndTheImageNotice()
    {
        Harness h;
        h.useModels({ blind, seeing });
        h.vm->attach(picture());
        QCOMPARE(h.vm->imageNotice(), std::nullopt); // nothing pinned: the ranker chooses
        h.vm->pin(blind.id);
        QSignalSpy changed(h.vm.get(), &ChatViewModel::attachmentsChanged);
        h.vm->attach(picture(Qt::red));
        QCOMPARE(h.vm->imageNotice(), std::optional(ImageNotice{ ImageNotice::text, seeing }));
        QCOMPARE(changed.size(), 1);
        h.vm->attach(picture());
        h.vm->attach(picture());
        h.vm->attach(picture()); // a fifth is ignored
        QCOMPARE(h.vm->attachments().size(), 4);
        QCOMPARE(changed.size(), 3);

        h.vm->removeAttachment(-1);
        h.vm->removeAttachment(4);
        QCOMPARE(h.vm->attachments().size(), 4);
        const QString second = h.vm->attachments().at(1);
        h.vm->removeAttachment(0);
        QCOMPARE(h.vm->attachments().first(), second);
        for (int i = 0; i < 3; ++i)
            h.vm->removeAttachment(0);
        QVERIFY(h.vm->attachments().isEmpty());
        QCOMPARE(h.vm->imageNotice(), std::nullopt);
    }

    void switchToVisionModelPinsTheOffer()
    {
        Harness h;
        h.useModels({ blind, seeing });
        h.vm->pin(blind.id);
        h.vm->attach(picture());
        h.vm->switchToVisionModel();
        QCOMPARE(h.vm->chat().pinnedModel, std::optional<QString>(seeing.id));
        QCOMPARE(h.vm->imageNotice(), std::nullopt);
    }

    void switchWithoutAnOfferOnlyClearsTheNotice()
    {
        Harness h;
        h.useModels({ blind });
        h.ranker->offer = QList<ORModel>(); // no model sees images
        h.vm->pin(blind.id);
        h.vm->attach(picture());
        QCOMPARE(h.vm->imageNotice(), std::optional(ImageNotice{ ImageNotice::text, std::nullopt }));
        h.vm->switchToVisionModel();
        QCOMPARE(h.vm->chat().pinnedModel, std::optional<QString>(blind.id));
        QCOMPARE(h.vm->imageNotice(), std::nullopt);
    }

    void unknownPinnedModelGivesNoNotice()
    {
        Harness h;
        h.vm->pin(QStringLiteral("vendor/unknown:free"));
        h.vm->attach(picture());
        QCOMPARE(h.vm->imageNotice(), std::nullopt);
    }
};

QTEST_MAIN(ChatOperationsTest)
#include "test_chat_operations.moc"
