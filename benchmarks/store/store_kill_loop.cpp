// Kills a chat store with SIGKILL at random moments while it saves, removes,
// renames and evicts chats, a few hundred times over, and counts what each
// kill left behind and whether the next start was sound. The store works in
// a child process: this program run again.
//
//   store_kill_loop [kills (300)] [seed]
//
// Exits with 1 when a kill left a file that does not decode, an index entry
// without its chat, or a start that was unsound or lost a chat.

#include "FolderAudit.h"
#include "core/store/ChatStore.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const char *const childFlag = "--child";
constexpr int seededChats = 190; // close to the cap, so that saves evict
constexpr int longestDelayMs = 400;

Chat chatWithText(const QString &text)
{
    Chat chat;
    chat.title = Chat::titleFrom(text);
    chat.messages = { ChatMessage{ QUuid::createUuid(), QStringLiteral("user"), text, {}, {}, {} } };
    return chat;
}

// Mostly short texts, now and then a long one, so that some writes take a
// while.
QString someText(QRandomGenerator &random)
{
    const int length = random.bounded(10) == 0 ? 200'000 : 1 + random.bounded(400);
    return QString(length, QChar(u'a' + random.bounded(26)));
}

void oneOperation(ChatStore &store, QRandomGenerator &random)
{
    const QList<ChatSummary> &listed = store.summaries();
    const int roll = random.bounded(100);
    if (listed.isEmpty() || roll < 45) {
        store.save(chatWithText(someText(random)));
        return;
    }
    const QUuid id = listed.at(random.bounded(listed.size())).id;
    if (roll < 85) {
        std::optional<Chat> chat = store.load(id);
        if (!chat)
            return;
        if (roll < 70)
            chat->messages.append(ChatMessage{ QUuid::createUuid(), QStringLiteral("assistant"),
                someText(random), {}, QStringLiteral("Model"), {} });
        else
            chat->title = QStringLiteral("Renamed %1").arg(random.bounded(1000));
        store.save(*chat);
        return;
    }
    store.remove(id);
}

// Works on the folder until it is killed.
[[noreturn]] void runChild(const QString &dir, quint32 seed)
{
    QRandomGenerator random(seed);
    ChatStore store(dir);
    for (;;) {
        oneOperation(store, random);
        if (random.bounded(3) == 0)
            store.drain();
    }
}

void seed(const QString &dir)
{
    ChatStore store(dir);
    for (int i = 0; i < seededChats; ++i)
        store.save(chatWithText(QStringLiteral("seed %1").arg(i)));
}

struct Counts {
    int kills = 0;
    int withTemporaries = 0;
    int undecodable = 0;
    int listedWithoutFile = 0;
    int writtenAfterIndex = 0;
    int lost = 0;
    int unsoundStarts = 0;

    bool sound() const
    {
        return undecodable == 0 && listedWithoutFile == 0 && lost == 0 && unsoundStarts == 0;
    }
};

// The chats the next start had to keep listing but did not: listed ones
// with a good file, and ones written after the index, less those a lost
// save's eviction may push beyond the cap.
int lostChats(const FolderAudit &audit, const QList<QUuid> &listedAfter)
{
    QList<QUuid> expected;
    for (const QUuid &id : audit.listed) {
        if (!audit.listedWithoutFile.contains(id))
            expected.append(id);
    }
    for (const QUuid &id : audit.unlistedNewer)
        expected.append(id);
    int missing = 0;
    for (const QUuid &id : std::as_const(expected))
        missing += listedAfter.contains(id) ? 0 : 1;
    const int beyondCap = std::max<int>(0, int(expected.size()) - ChatStore::maxChats);
    return std::max(0, missing - beyondCap);
}

void killOnce(const QString &dir, QRandomGenerator &random, Counts &counts)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { QString::fromLatin1(childFlag), dir, QString::number(random.generate()) });
    child.waitForStarted();
    // Not a sleep: the child never ends by itself, so this waits the delay.
    child.waitForFinished(random.bounded(longestDelayMs));
    child.kill();
    child.waitForFinished(-1);
    ++counts.kills;

    const FolderAudit audit = FolderAudit::of(dir);
    counts.withTemporaries += audit.leftovers.isEmpty() ? 0 : 1;
    counts.undecodable += int(audit.undecodable.size());
    counts.listedWithoutFile += int(audit.listedWithoutFile.size());
    counts.writtenAfterIndex += int(audit.unlistedNewer.size());

    QList<QUuid> listedAfter;
    const QStringList problems = problemsAfterLoad(dir, &listedAfter);
    counts.lost += lostChats(audit, listedAfter);
    if (!problems.isEmpty()) {
        ++counts.unsoundStarts;
        std::fprintf(stderr, "kill %d: %s\n", counts.kills, qPrintable(problems.join(QStringLiteral("; "))));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String(childFlag))
        runChild(args.at(2), args.at(3).toUInt());

    const int kills = args.size() > 1 ? args.at(1).toInt() : 300;
    const quint32 seedValue = args.size() > 2 ? args.at(2).toUInt() : QRandomGenerator::system()->generate();
    QRandomGenerator random(seedValue);
    QTemporaryDir home;
    const QString dir = home.filePath(QStringLiteral("chats"));
    seed(dir);

    Counts counts;
    for (int i = 0; i < kills; ++i)
        killOnce(dir, random, counts);

    const FolderAudit end = FolderAudit::of(dir);
    std::printf("seed %u\n", seedValue);
    std::printf("kills                                               %d\n", counts.kills);
    std::printf("kills that left temporaries (removed at next start) %d\n", counts.withTemporaries);
    std::printf("chat files written after the index (listed again)   %d\n", counts.writtenAfterIndex);
    std::printf("files that did not decode after a kill              %d\n", counts.undecodable);
    std::printf("index entries without a good file after a kill      %d\n", counts.listedWithoutFile);
    std::printf("chats a start failed to list                        %d\n", counts.lost);
    std::printf("unsound starts                                      %d\n", counts.unsoundStarts);
    std::printf("chats listed at the end                             %lld\n", qlonglong(end.listed.size()));
    std::printf(
        "unlisted files left behind at the end               %lld\n", qlonglong(end.unlistedOlder.size()));
    return counts.sound() ? 0 : 1;
}
