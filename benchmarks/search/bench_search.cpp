// Search over every chat, at scale.
//
//     bench_search [--chats 200] [--messages 400] [--words 60]
//
// Writes that many chats (each message about --words words, drawn from a
// vocabulary of 20,000 made-up words, some with accents) to a temporary
// folder, builds the index from the files, then types queries one letter
// at a time, as a person does, and times each keystroke from search() to
// the answer, with the main thread's own share. Prints the build's time,
// the resident memory it added, and the keystrokes' median, p99 and
// worst. Then the same chats in a store behind the sidebar: keys typed
// into its search field, each timed until the list shows the chats found
// and has been laid out and painted.

#include "core/conversation/ChatViewModel.h"
#include "core/ranker/ModelRanker.h"
#include "core/search/ChatSearch.h"
#include "core/search/ChatSearchIndex.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"
#include "ui/sidebar/SidebarView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QStringList vocabulary(QRandomGenerator &random)
{
    static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzéèüöñç");
    QStringList words;
    for (int i = 0; i < 20000; ++i) {
        QString word;
        const int length = 2 + int(random.bounded(10));
        for (int c = 0; c < length; ++c)
            word += letters.at(int(random.bounded(c % 4 == 3 ? letters.size() : 26)));
        words << word;
    }
    return words;
}

int argument(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

double percentile(QList<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0
                            : values.at(std::min(values.size() - 1, qsizetype(p * double(values.size()))));
}

// Keys typed into the sidebar's field, each from the key press until the
// list shows what the index found and the event loop has laid it out and
// painted it.
QList<double> typeIntoSidebar(const QList<Chat> &chats, const QStringList &targets)
{
    QTemporaryDir dir;
    ChatStore store(dir.path());
    for (const Chat &chat : chats)
        store.save(chat);
    OpenRouterClient client(QStringLiteral("http://127.0.0.1:9"));
    ModelRanker ranker(client);
    ChatViewModel vm(store, ranker, client);
    std::unique_ptr<ChatSearchIndex> index;
    ChatSearch search(store, [&]() -> ChatSearchIndex & {
        if (!index)
            index = ChatSearchIndex::following(store);
        return *index;
    });
    SidebarView sidebar(vm, store, search);
    sidebar.resize(260, 700);
    sidebar.show();
    QSignalSpy results(&search, &ChatSearch::resultsChanged);
    search.setQuery(QStringLiteral("zz"));
    if (!results.wait(600000))
        return {};
    search.setQuery(QString());

    QList<double> wall;
    QElapsedTimer clock;
    for (const QString &target : targets) {
        sidebar.searchField()->clear();
        QCoreApplication::processEvents();
        for (const QChar c : target) {
            const QStringList before = search.words();
            results.clear();
            clock.start();
            // A key event with its text, as an input method delivers é.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(sidebar.searchField(), &press);
            if (search.words() != before && results.isEmpty() && !results.wait(600000))
                return {};
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            wall << double(clock.nsecsElapsed()) / 1e6;
        }
    }
    return wall;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int chats = argument(args, "--chats", 200);
    const int messages = argument(args, "--messages", 400);
    const int wordsPerMessage = argument(args, "--words", 60);

    QRandomGenerator random(7);
    const QStringList words = vocabulary(random);
    QTemporaryDir dir;
    QStringList files;
    QList<Chat> all;
    qint64 bytes = 0;
    for (int c = 0; c < chats; ++c) {
        Chat chat;
        chat.title = words.at(int(random.bounded(words.size()))) + QLatin1Char(' ') + QString::number(c);
        for (int m = 0; m < messages; ++m) {
            ChatMessage message;
            message.role = m % 2 ? QStringLiteral("assistant") : QStringLiteral("user");
            QStringList text;
            for (int w = 0; w < wordsPerMessage; ++w)
                text << words.at(int(random.bounded(words.size())));
            message.text = text.join(QLatin1Char(' '));
            chat.messages << message;
        }
        QFile file(dir.filePath(QString::number(c) + QStringLiteral(".json")));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        bytes += file.write(chat.encode());
        all << chat;
        files << file.fileName();
    }

    const long before = residentKiB();
    QElapsedTimer clock;
    clock.start();
    ChatSearchIndex index(files);
    QSignalSpy found(&index, &ChatSearchIndex::found);
    index.search(QStringLiteral("zz"));
    found.wait(600000);
    const double buildMs = double(clock.nsecsElapsed()) / 1e6;
    const long added = residentKiB() - before;

    QStringList targets;
    for (int q = 0; q < 40; ++q)
        targets << words.at(int(random.bounded(words.size()))) + QLatin1Char(' ')
                + words.at(int(random.bounded(words.size())));
    QList<double> wall;
    QList<double> mainCpu;
    for (const QString &target : std::as_const(targets)) {
        for (qsizetype typed = 1; typed <= target.size(); ++typed) {
            found.clear();
            const double cpu = threadCpuMs();
            clock.restart();
            index.search(target.left(typed));
            const double callCpu = threadCpuMs() - cpu;
            if (found.isEmpty() && !found.wait(600000))
                return 1;
            wall << double(clock.nsecsElapsed()) / 1e6;
            mainCpu << callCpu;
        }
    }
    std::printf("%d chats of %d messages (%lld MB of chat files)\n", chats, messages, bytes / (1024 * 1024));
    std::printf(
        "index built off the main thread in %.0f ms; resident memory +%ld MB\n", buildMs, added / 1024);
    std::printf("%lld keystrokes, from search() to the answer: median %.2f ms, p99 %.2f ms, worst %.2f ms\n",
        qlonglong(wall.size()), percentile(wall, 0.5), percentile(wall, 0.99), percentile(wall, 1.0));
    std::printf("main thread's own CPU per keystroke: median %.3f ms, p99 %.3f ms\n",
        percentile(mainCpu, 0.5), percentile(mainCpu, 0.99));

    const QList<double> typed = typeIntoSidebar(all, targets);
    if (typed.isEmpty())
        return 1;
    std::printf("%lld keys typed into the sidebar, until the list is painted: median %.2f ms, p99 %.2f ms, "
                "worst %.2f ms\n",
        qlonglong(typed.size()), percentile(typed, 0.5), percentile(typed, 0.99), percentile(typed, 1.0));
    return 0;
}
