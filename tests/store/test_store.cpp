#include "StoreFiles.h"
#include "store/ChatStore.h"
#include "util/DateCodec.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <memory>

using namespace storefiles;

namespace {

// Records every file operation of the writer, and can hold the writer at its
// next operation so that a test knows a write is still queued.
struct FileLog {
    struct Entry {
        ChatStore::FileOp op;
        QString fileName;
        QString threadName;
        bool onMainThread;
    };

    QThread *mainThread = QThread::currentThread();
    QMutex mutex;
    QList<Entry> entries;
    std::atomic<bool> holding{ false };
    QSemaphore entered;
    QSemaphore gate;

    void record(ChatStore::FileOp op, const QString &path)
    {
        {
            QMutexLocker lock(&mutex);
            entries.append({ op, QFileInfo(path).fileName(), QThread::currentThread()->objectName(),
                QThread::currentThread() == mainThread });
        }
        if (holding) {
            entered.release();
            gate.acquire();
        }
    }
    void waitUntilHeld() { entered.acquire(); }
    void release()
    {
        holding = false;
        gate.release(1000);
    }
    QList<Entry> snapshot()
    {
        QMutexLocker lock(&mutex);
        return entries;
    }
};

std::shared_ptr<FileLog> watch(ChatStore &store, bool hold = false)
{
    auto log = std::make_shared<FileLog>();
    log->holding = hold;
    store.setFileObserver([log](ChatStore::FileOp op, const QString &path) { log->record(op, path); });
    return log;
}

QDateTime day(int year, int offsetDays = 0)
{
    return QDateTime(QDate(year, 1, 1), QTime(12, 0), Qt::UTC).addDays(offsetDays);
}

// Chats from an earlier run, listed in a valid index; the first is the oldest.
QList<Chat> seedStoredChats(int count, int year)
{
    QList<Chat> chats;
    QList<ChatSummary> index;
    for (int i = 0; i < count; ++i) {
        chats.append(chatWithText(QStringLiteral("seed %1").arg(i), day(year, i)));
        writeChatFile(chats.last());
        index.prepend(chats.last().summary());
    }
    writeIndex(index);
    return chats;
}

QList<QUuid> idsOf(const QList<ChatSummary> &summaries)
{
    QList<QUuid> ids;
    for (const ChatSummary &summary : summaries)
        ids.append(summary.id);
    return ids;
}

int chatFileCount()
{
    return QDir(chatsDir()).entryList({ QStringLiteral("*.json") }, QDir::Files).size()
        - 1; // minus the index
}

ChatMessage reply(const QString &text)
{
    return ChatMessage{ QUuid::createUuid(), QStringLiteral("assistant"), text, {}, QStringLiteral("Model A"),
        std::nullopt };
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { clearChatsDir(); }

    void aChatWithoutMessagesIsNeverWritten()
    {
        ChatStore store;
        QSignalSpy changed(&store, &ChatStore::summariesChanged);
        Chat empty;
        store.save(empty);
        store.drain();
        QVERIFY(store.summaries().isEmpty());
        QCOMPARE(changed.count(), 0);
        QVERIFY(QDir(chatsDir()).isEmpty());
    }

    void savingTwiceKeepsOneSummaryOnTop()
    {
        ChatStore store;
        QSignalSpy changed(&store, &ChatStore::summariesChanged);
        Chat first = chatWithText(QStringLiteral("first"));
        Chat second = chatWithText(QStringLiteral("second"));
        store.save(first);
        store.save(second);
        // A view that reloads the chat on the change sees the new state.
        QString titleSeenOnChange;
        connect(&store, &ChatStore::summariesChanged, &store,
            [&] { titleSeenOnChange = store.load(first.id).value_or(Chat()).title; });
        first.title = QStringLiteral("renamed");
        store.save(first);
        QCOMPARE(titleSeenOnChange, QStringLiteral("renamed"));

        QCOMPARE(changed.count(), 3);
        QCOMPARE(idsOf(store.summaries()), (QList<QUuid>{ first.id, second.id }));
        QCOMPARE(store.summaries().first().title, QStringLiteral("renamed"));
        QCOMPARE(store.property("summaries").value<QList<ChatSummary>>(), store.summaries());
        store.drain();
        QCOMPARE(readIndex(), store.summaries());
        QCOMPARE(readChatFile(first.id)->title, QStringLiteral("renamed"));
    }

    void aSaveStampsItsOwnCopyWithNow()
    {
        ChatStore store;
        Chat chat = chatWithText(QStringLiteral("old"), day(2005));
        const QDateTime before = QDateTime::currentDateTimeUtc();
        store.save(chat);
        QCOMPARE(chat.updated, day(2005));
        const QDateTime stamped = store.summaries().first().updated;
        QVERIFY(stamped >= before);
        store.drain();
        QCOMPARE(readChatFile(chat.id)->updated, stamped);
    }

    void theOldestChatGoesBeyond200()
    {
        ChatStore store;
        QList<Chat> chats;
        for (int i = 0; i <= ChatStore::maxChats; ++i) {
            chats.append(chatWithText(QStringLiteral("chat %1").arg(i)));
            store.save(chats.last());
        }
        QCOMPARE(store.summaries().size(), ChatStore::maxChats);
        QCOMPARE(store.summaries().first().id, chats.last().id);
        QVERIFY(!idsOf(store.summaries()).contains(chats.first().id));
        QVERIFY(!store.load(chats.first().id));
        store.drain();
        QVERIFY(!QFile::exists(chatFilePath(chats.first().id)));
        QVERIFY(QFile::exists(chatFilePath(chats[1].id)));
        QCOMPARE(chatFileCount(), ChatStore::maxChats);
        QCOMPARE(readIndex(), store.summaries());
    }

    // A clock set back makes the chat being saved the oldest of all; it must
    // still stay, and the oldest of the others goes instead.
    void theChatBeingSavedIsNeverEvicted()
    {
        const QList<Chat> seeded = seedStoredChats(ChatStore::maxChats, 2100);
        ChatStore store;
        const Chat chat = chatWithText(QStringLiteral("behind"));
        store.save(chat);

        QCOMPARE(store.summaries().size(), ChatStore::maxChats);
        QCOMPARE(store.summaries().last().id, chat.id);
        const QList<QUuid> listed = idsOf(store.summaries());
        QVERIFY(!listed.contains(seeded[0].id));
        QVERIFY(listed.contains(seeded[1].id));
        store.drain();
        QVERIFY(readChatFile(chat.id));
        QVERIFY(!QFile::exists(chatFilePath(seeded[0].id)));
        QVERIFY(QFile::exists(chatFilePath(seeded[1].id)));
        QCOMPARE(readIndex(), store.summaries());
    }

    void aDamagedIndexIsRebuiltFromTheChatFiles_data()
    {
        QTest::addColumn<QByteArray>("index");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("[{\"id\":");
        QTest::newRow("an object") << QByteArray("{}");
        QTest::newRow("a bad entry") << QByteArray(R"([{"id":"nope","title":"T","updated":1}])");
    }

    void aDamagedIndexIsRebuiltFromTheChatFiles()
    {
        QFETCH(QByteArray, index);
        const Chat oldest = chatWithText(QStringLiteral("oldest"), day(2020));
        const Chat newest = chatWithText(QStringLiteral("newest"), day(2022));
        const Chat middle = chatWithText(QStringLiteral("middle"), day(2021));
        for (const Chat &chat : { oldest, newest, middle })
            QVERIFY(writeChatFile(chat));
        const QString corruptPath = chatFilePath(QUuid::createUuid());
        QVERIFY(writeBytes(corruptPath, "{\"id\": garbage"));
        // Files that are not the store's own chat files count for nothing.
        const Chat stray = chatWithText(QStringLiteral("stray"), day(2030));
        QVERIFY(writeBytes(
            chatsDir() + u'/' + RecordCodec::uuidText(stray.id).toLower() + ".json", stray.encode()));
        QVERIFY(writeBytes(chatFilePath(stray.id) + ".aB3xYz", stray.encode()));
        QVERIFY(writeBytes(chatFilePath(QUuid::createUuid()), stray.encode()));
        QVERIFY(writeBytes(chatsDir() + "/notes.json", stray.encode()));
        if (!index.isEmpty())
            QVERIFY(writeBytes(chatsDir() + "/index.json", index));

        const QList<QUuid> expected{ newest.id, middle.id, oldest.id };
        {
            ChatStore store;
            QCOMPARE(idsOf(store.summaries()), expected);
        }
        QCOMPARE(readIndex(), (QList<ChatSummary>{ newest.summary(), middle.summary(), oldest.summary() }));
        QCOMPARE(readBytes(corruptPath), QByteArray("{\"id\": garbage"));
        ChatStore restarted;
        QCOMPARE(idsOf(restarted.summaries()), expected);
    }

    void aRebuildKeepsTheNewest200()
    {
        const QList<Chat> seeded = seedStoredChats(ChatStore::maxChats + 2, 2019);
        QFile::remove(chatsDir() + "/index.json");
        ChatStore store;
        QCOMPARE(store.summaries().size(), ChatStore::maxChats);
        QCOMPARE(store.summaries().first().id, seeded.last().id);
        QCOMPARE(store.summaries().last().id, seeded[2].id);
        store.drain();
        QCOMPARE(readIndex(), store.summaries());
        QVERIFY(QFile::exists(chatFilePath(seeded[0].id)));
    }

    void aValidIndexHidesUnlistedChats()
    {
        const Chat listed = chatWithText(QStringLiteral("listed"), day(2020));
        const Chat unlisted = chatWithText(QStringLiteral("unlisted"), day(2024));
        QVERIFY(writeChatFile(listed) && writeChatFile(unlisted));
        QVERIFY(writeIndex({ listed.summary() }));
        ChatStore store;
        QCOMPARE(idsOf(store.summaries()), QList<QUuid>{ listed.id });
        store.drain();
        QCOMPARE(readIndex(), QList<ChatSummary>{ listed.summary() });
    }

    void indexEntriesAreShownNewestFirst()
    {
        const ChatSummary a{ QUuid::createUuid(), QStringLiteral("a"), day(2020) };
        const ChatSummary b{ QUuid::createUuid(), QStringLiteral("b"), day(2023) };
        const ChatSummary c{ QUuid::createUuid(), QStringLiteral("c"), day(2021) };
        const ChatSummary tiedWithC{ QUuid::createUuid(), QStringLiteral("d"), day(2021) };
        QVERIFY(writeIndex({ a, c, b, tiedWithC }));
        ChatStore store;
        QCOMPARE(store.summaries(), (QList<ChatSummary>{ b, c, tiedWithC, a }));
    }

    void removeDeletesTheFileAndRewritesTheIndex_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::newRow("listed chat") << true;
        QTest::newRow("unlisted chat") << false;
    }

    void removeDeletesTheFileAndRewritesTheIndex()
    {
        QFETCH(bool, listed);
        ChatStore store;
        const Chat kept = chatWithText(QStringLiteral("kept"));
        const Chat gone = chatWithText(QStringLiteral("gone"));
        store.save(kept);
        if (listed)
            store.save(gone);
        else
            QVERIFY(writeChatFile(gone));
        store.drain();
        auto log = watch(store);
        QSignalSpy changed(&store, &ChatStore::summariesChanged);

        store.remove(gone.id);
        QCOMPARE(changed.count(), listed ? 1 : 0);
        QCOMPARE(idsOf(store.summaries()), QList<QUuid>{ kept.id });
        QVERIFY(!store.load(gone.id));
        store.drain();
        QVERIFY(!QFile::exists(chatFilePath(gone.id)));
        const auto ops = log->snapshot();
        QCOMPARE(ops.size(), 2);
        QCOMPARE(ops[0].op, ChatStore::FileOp::Remove);
        QCOMPARE(ops[1].fileName, QStringLiteral("index.json"));
        QCOMPARE(readIndex(), QList<ChatSummary>{ store.summaries() });
    }

    void aRestartReadsBackWhatWasSaved()
    {
        Chat chat = chatWithText(QStringLiteral("look at this"));
        chat.pinnedModel = QStringLiteral("vendor/vision:free");
        chat.messages[0].images = { QStringLiteral("data:image/jpeg;base64,/9j/AAAA") };
        chat.messages.append(reply(QStringLiteral("A cat.")));
        QList<ChatSummary> saved;
        {
            ChatStore store;
            store.save(chat);
            saved = store.summaries();
        } // destruction drains the queue

        ChatStore restarted;
        QCOMPARE(restarted.summaries(), saved);
        const auto loaded = restarted.load(chat.id);
        QVERIFY(loaded);
        QCOMPARE(loaded->pinnedModel, chat.pinnedModel);
        QCOMPARE(loaded->messages, chat.messages);
        QVERIFY(!restarted.load(QUuid::createUuid()));
    }

    void loadIgnoresAFileThatDoesNotDecode()
    {
        ChatStore store;
        const QUuid id = QUuid::createUuid();
        QVERIFY(writeBytes(chatFilePath(id), "not json"));
        QVERIFY(!store.load(id));
        const Chat other = chatWithText(QStringLiteral("other"));
        QVERIFY(writeBytes(chatFilePath(id), other.encode()));
        QVERIFY(!store.load(id));
    }

    void loadSeesASaveStillInTheQueue()
    {
        ChatStore store;
        auto log = watch(store, true);
        Chat chat = chatWithText(QStringLiteral("first"));
        store.save(chat);
        log->waitUntilHeld(); // the writer is stopped before its first file
        chat.title = QStringLiteral("second");
        chat.messages.append(reply(QStringLiteral("answer")));
        store.save(chat);
        QVERIFY(!QFile::exists(chatFilePath(chat.id)));

        auto loaded = store.load(chat.id);
        QVERIFY(loaded);
        QCOMPARE(loaded->title, QStringLiteral("second"));
        QCOMPARE(loaded->messages, chat.messages);

        log->release();
        store.drain();
        QCOMPARE(readChatFile(chat.id)->title, QStringLiteral("second"));
        QCOMPARE(store.load(chat.id)->messages, chat.messages);
    }

    void aRemoveIsNotUndoneByASaveStillInTheQueue()
    {
        ChatStore store;
        auto log = watch(store, true);
        const Chat chat = chatWithText(QStringLiteral("short-lived"));
        store.save(chat);
        log->waitUntilHeld();
        store.remove(chat.id);
        QVERIFY(!store.load(chat.id));
        QVERIFY(store.summaries().isEmpty());

        log->release();
        store.drain();
        QVERIFY(!QFile::exists(chatFilePath(chat.id)));
        QVERIFY(!store.load(chat.id));
        QCOMPARE(readIndex(), QList<ChatSummary>());
    }

    void filesAreTouchedOnlyOnTheWriterThread()
    {
        seedStoredChats(ChatStore::maxChats, 2015);
        ChatStore store;
        auto log = watch(store);
        const Chat chat = chatWithText(QStringLiteral("new"));
        store.save(chat); // evicts the oldest seeded chat
        store.remove(chat.id);
        store.drain();

        const auto ops = log->snapshot();
        QCOMPARE(ops.size(), 5);
        for (const auto &entry : ops) {
            QCOMPARE(entry.threadName, QStringLiteral("tolvi.store.io"));
            QVERIFY(!entry.onMainThread);
        }
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
