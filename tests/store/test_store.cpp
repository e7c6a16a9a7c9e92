#include "FolderAudit.h"
#include "StoreFiles.h"
#include "core/store/ChatStore.h"
#include "core/util/DateCodec.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <memory>
#include <sys/resource.h>

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

bool setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
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

// Something that makes a write fail, also for root (mode bits do not stop
// root's writes).
class Obstacle
{
public:
    enum Kind { DirectoryAtChatPath, FileAtChatsFolder, ChatOverSizeLimit, IndexOverSizeLimit };
    // Chat files stay below it, an index of 200 chats does not.
    static constexpr rlim_t sizeLimit = 8 * 1024;

    Obstacle(Kind kind, const QUuid &chat)
        : m_kind(kind)
        , m_chatPath(chatFilePath(chat))
    {
        switch (kind) {
        case DirectoryAtChatPath:
            QDir().mkpath(m_chatPath);
            break;
        case FileAtChatsFolder:
            QDir().rename(chatsDir(), aside());
            QFile(chatsDir()).open(QIODevice::WriteOnly);
            break;
        case ChatOverSizeLimit:
        case IndexOverSizeLimit:
            // A write beyond the limit then fails with EFBIG instead of
            // ending the process.
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &m_saved);
            rlimit limited = m_saved;
            limited.rlim_cur = sizeLimit;
            setrlimit(RLIMIT_FSIZE, &limited);
            break;
        }
    }
    ~Obstacle() { lift(); }

    void lift()
    {
        if (m_lifted)
            return;
        m_lifted = true;
        switch (m_kind) {
        case DirectoryAtChatPath:
            QDir().rmdir(m_chatPath);
            break;
        case FileAtChatsFolder:
            QFile::remove(chatsDir());
            QDir().rename(aside(), chatsDir());
            break;
        case ChatOverSizeLimit:
        case IndexOverSizeLimit:
            setrlimit(RLIMIT_FSIZE, &m_saved);
            break;
        }
    }

private:
    static QString aside() { return chatsDir() + QStringLiteral(".aside"); }

    Kind m_kind;
    QString m_chatPath;
    rlimit m_saved{};
    bool m_lifted = false;
};

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
        QSignalSpy stored(&store, &ChatStore::chatStored);
        QSignalSpy removed(&store, &ChatStore::chatRemoved);
        QList<Chat> chats;
        for (int i = 0; i <= ChatStore::maxChats; ++i) {
            chats.append(chatWithText(QStringLiteral("chat %1").arg(i)));
            store.save(chats.last());
        }
        QCOMPARE(store.summaries().size(), ChatStore::maxChats);
        // Those who follow the chats' contents hear of each one stored and of
        // the one evicted, as of one removed.
        QCOMPARE(stored.size(), ChatStore::maxChats + 1);
        QCOMPARE(stored.last().at(0).value<Chat>().messages, chats.last().messages);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.first().at(0).toUuid(), chats.first().id);
        store.remove(chats.last().id);
        QCOMPARE(removed.last().at(0).toUuid(), chats.last().id);
        store.save(chats.last());
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

    // The start's own work (here the rewrite of an index that lists a chat
    // without a file) waits a moment; a save made meanwhile must still come
    // after it, or the old list would overwrite the new one.
    void aSaveBeforeTheStartsOwnWorkComesAfterIt()
    {
        const Chat kept = chatWithText(QStringLiteral("kept"), day(2020));
        const Chat lost = chatWithText(QStringLiteral("lost"), day(2021));
        QVERIFY(writeChatFile(kept));
        QVERIFY(writeIndex({ lost.summary(), kept.summary() }));
        ChatStore store;
        const Chat fresh = chatWithText(QStringLiteral("fresh"));
        store.save(fresh);
        store.drain();
        QCOMPARE(store.summaries().size(), 2);
        QCOMPARE(store.summaries().first().id, fresh.id);
        QCOMPARE(readIndex(), store.summaries());
    }

    void aReadAheadServesOnlyTheStoreOfItsFolder()
    {
        const QList<Chat> seeded = seedStoredChats(3, 2020);
        const ChatStore::ReadAhead ahead;
        QTemporaryDir otherDir;
        QVERIFY(otherDir.isValid());
        ChatStore other(otherDir.path());
        QVERIFY(other.summaries().isEmpty());
        ChatStore store;
        QSet<QUuid> listed;
        for (const ChatSummary &summary : store.summaries())
            listed.insert(summary.id);
        QSet<QUuid> stored;
        for (const Chat &chat : seeded)
            stored.insert(chat.id);
        QCOMPARE(listed, stored);
    }

    // Four chats (1 and 2 share a date); the index lists some of them, and
    // each chat's file was written before the index, after it (with a new
    // title), or not at all, and may be damaged.
    void aStartListsWhatTheFilesHold_data()
    {
        QTest::addColumn<QList<int>>("listed");
        QTest::addColumn<QList<int>>("olderFiles");
        QTest::addColumn<QList<int>>("newerFiles");
        QTest::addColumn<QList<int>>("damaged");
        QTest::addColumn<QList<int>>("shown");
        QTest::newRow("out of order, shown newest first")
            << QList{ 0, 2, 1, 3 } << QList{ 0, 1, 2, 3 } << QList<int>() << QList<int>()
            << QList{ 3, 2, 1, 0 };
        QTest::newRow("an entry without a file is dropped")
            << QList{ 0, 1 } << QList{ 0 } << QList<int>() << QList<int>() << QList{ 0 };
        QTest::newRow("an unlisted file older than the index stays hidden")
            << QList{ 0 } << QList{ 0, 1 } << QList<int>() << QList<int>() << QList{ 0 };
        QTest::newRow("an unlisted file newer than the index is listed")
            << QList{ 0 } << QList{ 0 } << QList{ 3 } << QList<int>() << QList{ 3, 0 };
        QTest::newRow("a listed file newer than the index gives its title")
            << QList{ 0, 1 } << QList{ 0 } << QList{ 1 } << QList<int>() << QList{ 1, 0 };
        QTest::newRow("a listed file that does not decode is dropped")
            << QList{ 0, 1 } << QList{ 0, 1 } << QList<int>() << QList{ 1 } << QList{ 0 };
        QTest::newRow("a newer file that does not decode is dropped")
            << QList{ 0, 1 } << QList{ 0 } << QList{ 1, 3 } << QList{ 1, 3 } << QList{ 0 };
    }

    void aStartListsWhatTheFilesHold()
    {
        QFETCH(QList<int>, listed);
        QFETCH(QList<int>, olderFiles);
        QFETCH(QList<int>, newerFiles);
        QFETCH(QList<int>, damaged);
        QFETCH(QList<int>, shown);
        const QDateTime indexTime = QDateTime::currentDateTimeUtc().addSecs(-3600);
        QList<Chat> chats;
        for (const int year : { 2020, 2021, 2021, 2023 }) {
            chats.append(chatWithText(QStringLiteral("listed %1").arg(chats.size()), day(year)));
            chats.last().title = QStringLiteral("listed %1").arg(chats.size() - 1);
        }
        QList<ChatSummary> index;
        for (const int i : listed)
            index.append(chats[i].summary());
        QVERIFY(writeIndex(index));
        QVERIFY(setModified(chatsDir() + "/index.json", indexTime));
        const auto writeFile = [&](int i, const QDateTime &time) {
            const QString path = chatFilePath(chats[i].id);
            QVERIFY(damaged.contains(i) ? writeBytes(path, "{\"id\":") : writeChatFile(chats[i]));
            QVERIFY(setModified(path, time));
        };
        for (const int i : olderFiles)
            writeFile(i, indexTime.addSecs(-600));
        for (const int i : newerFiles) {
            chats[i].title = QStringLiteral("written %1").arg(i);
            writeFile(i, indexTime.addSecs(600));
        }
        // What interrupted atomic writes leave, and a file that is not ours.
        QVERIFY(writeBytes(chatsDir() + "/index.json.aB3xYz", "["));
        QVERIFY(writeBytes(chatFilePath(chats[0].id) + ".Qw12er", "{"));
        QVERIFY(writeBytes(chatsDir() + "/notes.json.Qw12er", "{"));

        QList<ChatSummary> expected;
        for (const int i : shown)
            expected.append(chats[i].summary());
        {
            ChatStore store;
            QSignalSpy changed(&store, &ChatStore::summariesChanged);
            const QList<ChatSummary> first = store.summaries();
            store.drain();
            QCOMPARE(store.summaries(), expected);
            QCOMPARE(changed.isEmpty(), first == expected);
        }
        QCOMPARE(readIndex(), expected);
        QCOMPARE(QDir(chatsDir()).entryList({ "*.??????" }, QDir::Files), QStringList{ "notes.json.Qw12er" });
        for (const int i : damaged)
            QCOMPARE(readBytes(chatFilePath(chats[i].id)), QByteArray("{\"id\":")); // nothing is lost
        ChatStore restarted;
        QCOMPARE(restarted.summaries(), expected);
    }

    void aFailedSaveKeepsTheChatAndTriesAgain_data()
    {
        QTest::addColumn<int>("obstacle");
        QTest::addColumn<bool>("retriedByTheNextSave");
        QTest::newRow("a directory where the chat file goes") << int(Obstacle::DirectoryAtChatPath) << false;
        QTest::newRow("a file where the chats folder goes") << int(Obstacle::FileAtChatsFolder) << true;
        QTest::newRow("a chat beyond the file size limit") << int(Obstacle::ChatOverSizeLimit) << false;
        QTest::newRow("an index beyond the file size limit") << int(Obstacle::IndexOverSizeLimit) << true;
    }

    void aFailedSaveKeepsTheChatAndTriesAgain()
    {
        QFETCH(int, obstacle);
        QFETCH(bool, retriedByTheNextSave);
        const QList<Chat> seeded = seedStoredChats(ChatStore::maxChats, 2015);
        ChatStore store;
        store.drain();
        const QByteArray indexBefore = readBytes(store.indexPath());
        QVERIFY(indexBefore.size() > qsizetype(Obstacle::sizeLimit));
        Chat chat
            = chatWithText(obstacle == Obstacle::ChatOverSizeLimit ? QString(2 * Obstacle::sizeLimit, u'x')
                                                                   : QStringLiteral("hello"));
        QSignalSpy failures(&store, &ChatStore::saveFailuresChanged);

        Obstacle block(Obstacle::Kind(obstacle), chat.id);
        store.save(chat); // pushes the oldest chat out
        store.drain();
        block.lift();
        QVERIFY(!store.saveFailure(chat.id).value_or(QString()).isEmpty());
        QCOMPARE(failures.count(), 1);
        // Kept in memory, listed and loadable, while the disk is as before:
        // the old index whole, the evicted chat still there, no temporary.
        QCOMPARE(store.summaries().first().id, chat.id);
        QCOMPARE(store.load(chat.id)->messages, chat.messages);
        QCOMPARE(readBytes(store.indexPath()), indexBefore);
        QVERIFY(readChatFile(seeded[0].id));
        const FolderAudit audit = FolderAudit::of(chatsDir());
        QCOMPARE(audit.leftovers, QStringList());
        QCOMPARE(audit.undecodable, QStringList());

        if (retriedByTheNextSave)
            store.save(chatWithText(QStringLiteral("next")));
        else
            store.retryFailedSaves();
        store.drain();
        QCOMPARE(store.saveFailure(chat.id), std::nullopt);
        QCOMPARE(failures.count(), 2);
        QCOMPARE(readChatFile(chat.id)->messages, chat.messages);
        QCOMPARE(readIndex(), store.summaries());
        QVERIFY(!QFile::exists(chatFilePath(seeded[0].id)));
    }

    // "Try again" writes the chat again even while a newer save of it is on
    // its way: that save may fail as the first one did.
    void aRetryDoesNotLeanOnASaveStillOnItsWay()
    {
        ChatStore store;
        Chat chat = chatWithText(QStringLiteral("first"));
        Obstacle block(Obstacle::DirectoryAtChatPath, chat.id);
        store.save(chat);
        store.drain();
        QVERIFY(store.saveFailure(chat.id));

        auto log = watch(store, true);
        chat.messages.append(chat.messages.first());
        store.save(chat); // on its way, and bound to fail
        log->waitUntilHeld();
        store.retryFailedSaves();
        log->gate.release(); // the newer save fails
        QVERIFY(log->entered.tryAcquire(1, 30000)); // the retry's write comes next
        QCOMPARE(log->snapshot().last().fileName, QFileInfo(chatFilePath(chat.id)).fileName());
        block.lift();
        log->release();
        store.drain();
        QCOMPARE(store.saveFailure(chat.id), std::nullopt);
        QCOMPARE(readChatFile(chat.id)->messages.size(), 2);
    }

    // A deletion that waits for a good index write spares a chat that was
    // saved again meanwhile, and no index lists the chat without a file.
    void aWaitingDeletionSparesAChatSavedAgain()
    {
        const QList<Chat> seeded = seedStoredChats(ChatStore::maxChats, 2015);
        ChatStore store;
        const Chat blocked = chatWithText(QStringLiteral("blocked"));
        Obstacle block(Obstacle::DirectoryAtChatPath, blocked.id);
        store.save(blocked); // pushes seed 0 out; its deletion waits
        store.save(seeded[0]); // back again, pushing seed 1 out
        store.drain();
        QVERIFY(store.saveFailure(blocked.id));
        QCOMPARE(FolderAudit::of(chatsDir()).listedWithoutFile, QList<QUuid>());
        QVERIFY(readChatFile(seeded[0].id));
        QVERIFY(!QFile::exists(chatFilePath(seeded[1].id)));

        block.lift();
        store.retryFailedSaves();
        store.drain();
        QCOMPARE(readIndex(), store.summaries());
        QVERIFY(readChatFile(seeded[0].id));
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
        // The index first: a crash in between leaves an unlisted file, never
        // a listed chat without one.
        const auto ops = log->snapshot();
        QCOMPARE(ops.size(), 3);
        QCOMPARE(ops[1].op, ChatStore::FileOp::commit);
        QCOMPARE(ops[1].fileName, QStringLiteral("index.json"));
        QCOMPARE(ops[2].op, ChatStore::FileOp::remove);
        QCOMPARE(ops[2].fileName, QFileInfo(chatFilePath(gone.id)).fileName());
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
        QCOMPARE(ops.size(), 8);
        for (const auto &entry : ops) {
            QCOMPARE(entry.threadName, QStringLiteral("tolvi.store.io"));
            QVERIFY(!entry.onMainThread);
        }
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
