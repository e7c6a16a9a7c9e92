// Kills the store with SIGKILL at every boundary of its file work, in a
// child process (this program run again), and checks what each kill left:
// every file decodes, the index lists no chat it cannot open, and the next
// start shows every chat it must, sorted, without temporaries.

#include "FolderAudit.h"
#include "StoreFiles.h"
#include "core/store/ChatStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstdio>

using namespace storefiles;

namespace {

const char *const childFlag = "--store-kill-child";

enum Scenario { SaveTwoNew, SaveWithEviction, Rename, Remove, SaveThenRemove };

QUuid seedId(int i)
{
    return QUuid::createUuidV5(QUuid(), QStringLiteral("seed %1").arg(i));
}

const QUuid newId = QUuid::createUuidV5(QUuid(), QStringLiteral("new chat"));
const QUuid secondId = QUuid::createUuidV5(QUuid(), QStringLiteral("second new chat"));

QDateTime day(int offset)
{
    return QDateTime(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC).addDays(offset);
}

Chat seedChat(int i)
{
    Chat chat = chatWithText(QStringLiteral("seed %1").arg(i), day(i));
    chat.id = seedId(i);
    return chat;
}

Chat newChat(const QUuid &id = newId)
{
    Chat chat = chatWithText(QStringLiteral("new"));
    chat.id = id;
    return chat;
}

int seedCount(Scenario scenario)
{
    return scenario == SaveWithEviction ? ChatStore::maxChats : 3;
}

// The folder before the child starts: seeded chats in a valid index.
void seed(Scenario scenario)
{
    clearChatsDir();
    QList<ChatSummary> index;
    for (int i = 0; i < seedCount(scenario); ++i) {
        writeChatFile(seedChat(i));
        index.prepend(seedChat(i).summary());
    }
    writeIndex(index);
}

void runScenario(ChatStore &store, Scenario scenario)
{
    switch (scenario) {
    case SaveTwoNew:
        store.save(newChat());
        store.save(newChat(secondId));
        break;
    case SaveWithEviction:
        store.save(newChat());
        break;
    case Rename: {
        Chat chat = *store.load(seedId(1));
        chat.title = QStringLiteral("Renamed");
        store.save(chat);
        break;
    }
    case Remove:
        store.remove(seedId(1));
        break;
    case SaveThenRemove:
        store.save(newChat());
        store.remove(newId);
        break;
    }
    store.drain();
}

// The child: prints every file operation ("W", "C" or "R" and the file's
// name) and dies before operation number killAt (counted from 1; 0: never).
int runChild(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto scenario = Scenario(args.at(2).toInt());
    const int killAt = args.at(3).toInt();
    int count = 0;
    const auto observer = [killAt, &count](ChatStore::FileOp op, const QString &path) {
        if (++count == killAt)
            raise(SIGKILL);
        const char kind = op == ChatStore::FileOp::write ? 'W' : op == ChatStore::FileOp::commit ? 'C' : 'R';
        std::printf("%c %s\n", kind, qPrintable(QFileInfo(path).fileName()));
        std::fflush(stdout);
    };
    ChatStore store(args.at(4), observer);
    runScenario(store, scenario);
    return 0;
}

// The file operations of one run, in order.
struct OpLog {
    QStringList ops;

    // How many commits of that file ran before the kill at killAt.
    int commitsBefore(const QString &name, int killAt) const
    {
        const QString line = QStringLiteral("C ") + name;
        const qsizetype ran = killAt == 0 ? ops.size() : killAt - 1;
        int commits = 0;
        for (qsizetype i = 0; i < ran; ++i)
            commits += ops.at(i) == line ? 1 : 0;
        return commits;
    }
};

QString fileName(const QUuid &id)
{
    return QFileInfo(chatFilePath(id)).fileName();
}

struct Expected {
    QList<QUuid> listed;
    QList<QUuid> notListed;
};

// What the next start must show after a kill at killAt.
Expected expected(Scenario scenario, const OpLog &log, int killAt)
{
    Expected e;
    for (int i = 0; i < seedCount(scenario); ++i)
        e.listed.append(seedId(i));
    const bool newWritten = log.commitsBefore(fileName(newId), killAt) > 0;
    const int indexWrites = log.commitsBefore(QStringLiteral("index.json"), killAt);
    const auto place = [&e](const QUuid &id, bool listed) {
        e.listed.removeAll(id);
        (listed ? e.listed : e.notListed).append(id);
    };
    switch (scenario) {
    case SaveTwoNew:
        // The second chat's file may land within the same clock tick as the
        // index before it, and must still count as newer.
        place(newId, newWritten);
        place(secondId, log.commitsBefore(fileName(secondId), killAt) > 0);
        break;
    case SaveWithEviction:
        // Once the new chat is on disk it is listed, and the oldest goes.
        place(newId, newWritten);
        place(seedId(0), !newWritten);
        break;
    case Rename:
        break;
    case Remove:
        place(seedId(1), indexWrites == 0);
        break;
    case SaveThenRemove:
        place(newId, newWritten && indexWrites < 2);
        break;
    }
    return e;
}

} // namespace

class StoreKillsTest : public QObject
{
    Q_OBJECT

private:
    // Runs the child on a freshly seeded folder; false when it did not end
    // as it should (killed when killAt > 0, else exit code 0).
    bool runChildOnce(Scenario scenario, int killAt, OpLog *log = nullptr)
    {
        seed(scenario);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
            { QString::fromLatin1(childFlag), QString::number(scenario), QString::number(killAt),
                chatsDir() });
        if (!child.waitForFinished(120000))
            return false;
        if (log)
            log->ops = QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        if (killAt > 0)
            return child.exitStatus() == QProcess::CrashExit;
        return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }

    void checkWhatTheKillLeft()
    {
        const FolderAudit audit = FolderAudit::of(chatsDir());
        QCOMPARE(audit.undecodable, QStringList());
        QCOMPARE(audit.listedWithoutFile, QList<QUuid>());
    }

    void checkTheNextStart(Scenario scenario, const OpLog &log, int killAt)
    {
        QList<QUuid> listed;
        QCOMPARE(problemsAfterLoad(chatsDir(), &listed), QStringList());
        const Expected e = expected(scenario, log, killAt);
        for (const QUuid &id : e.listed)
            QVERIFY2(listed.contains(id), qPrintable(fileName(id) + " is not listed"));
        for (const QUuid &id : e.notListed)
            QVERIFY2(!listed.contains(id), qPrintable(fileName(id) + " is listed"));
    }

private Q_SLOTS:
    void aKillAtAnyBoundaryLosesNothing_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<int>("operations"); // file operations of one whole run
        QTest::newRow("two new chats") << int(SaveTwoNew) << 8;
        QTest::newRow("a new chat that evicts the oldest") << int(SaveWithEviction) << 5;
        QTest::newRow("a rename") << int(Rename) << 4;
        QTest::newRow("a removal") << int(Remove) << 3;
        QTest::newRow("a save, then its removal") << int(SaveThenRemove) << 7;
    }

    void aKillAtAnyBoundaryLosesNothing()
    {
        QFETCH(int, scenario);
        QFETCH(int, operations);
        const auto which = Scenario(scenario);
        OpLog log;
        QVERIFY(runChildOnce(which, 0, &log));
        QCOMPARE(log.ops.size(), operations);
        for (int killAt = 0; killAt <= operations; ++killAt) {
            const QByteArray where = "killed before operation " + QByteArray::number(killAt) + " of "
                + log.ops.join(QStringLiteral(", ")).toUtf8();
            if (killAt > 0)
                QVERIFY2(runChildOnce(which, killAt), where.constData());
            else
                QVERIFY(runChildOnce(which, 0));
            checkWhatTheKillLeft();
            if (QTest::currentTestFailed())
                QFAIL(where.constData());
            checkTheNextStart(which, log, killAt);
            if (QTest::currentTestFailed())
                QFAIL(where.constData());
        }
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], childFlag) == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    StoreKillsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_store_kills.moc"
