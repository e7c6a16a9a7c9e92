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
// worst.

#include "core/search/ChatSearchIndex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int chats = argument(args, "--chats", 200);
    const int messages = argument(args, "--messages", 400);
    const int wordsPerMessage = argument(args, "--words", 60);

    QRandomGenerator random(7);
    const QStringList words = vocabulary(random);
    QTemporaryDir dir;
    QStringList files;
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

    QList<double> wall;
    QList<double> mainCpu;
    for (int q = 0; q < 40; ++q) {
        const QString target = words.at(int(random.bounded(words.size()))) + QLatin1Char(' ')
            + words.at(int(random.bounded(words.size())));
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
    return 0;
}
