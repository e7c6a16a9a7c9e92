// Opening a long stored chat in the conversation pane: the time from
// ChatViewModel::select() to the first paint of the conversation's viewport,
// and to the moment the event loop has nothing left to do for the open, with
// the main thread's CPU time for it; the process's resident memory with the chat open after the switches;
// then the CPU time of scrolling from the top to the end one viewport at a
// time (layout and paint of each step). Two stored chats of 400 messages
// (questions, answers with headings, lists and code blocks) are opened in
// turn, --runs times after a cold open.
//
//   bench_open_chat [--runs N] [--messages N]
//   bench_open_chat --stream [--messages N] [--flushes N]
//
// With --stream it measures instead what one flush of a streaming answer
// costs the main thread (receive, the views' updates, layout and paint),
// with the conversation view connected: into a new chat, then into the last
// message of a stored chat of --messages messages (2000 by default), and
// prints both with their ratio. A flush that takes the answer onto another
// line moves and repaints the whole view and costs several times one that
// does not, and the two kinds come about equally often: the median of all
// flushes falls between them and flips with a few flushes more of one kind
// (as in a new chat, whose answer grows for a while without scrolling), so
// each kind's median and the mean are printed too.

#include "ConversationHarness.h"
#include "core/conversation/ChatViewModel.h"
#include "core/ranker/ModelRanker.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageRow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <vector>

namespace {

QString answer(int n)
{
    const QString k = QString::number(n);
    return QStringLiteral("### Option ") + k
        + QStringLiteral("\n\nThe **short** answer is `yes`; here is why, step by step:\n\n"
                         "1. Read the file with `open()`\n2. Split it into *lines*\n"
                         "3. Count what you need\n\n- keep it simple\n- test it on a small input\n\n"
                         "```python\nwith open(\"data-")
        + k
        + QStringLiteral(".txt\") as f:\n    lines = f.read().splitlines()\nprint(len(lines))\n```\n\n"
                         "> Note: large files are better read line by line.\n\n"
                         "That is all; ask again if something is unclear.");
}

Chat longChat(int messages)
{
    Chat chat;
    chat.title = QStringLiteral("Long chat");
    for (int i = 0; i < messages; ++i) {
        ChatMessage m;
        m.role = i % 2 ? QStringLiteral("assistant") : QStringLiteral("user");
        m.text = i % 2 ? answer(i)
                       : QStringLiteral("Question %1: how would I count the lines of a file?").arg(i);
        if (i % 2)
            m.answeredBy = QStringLiteral("Example Model");
        chat.messages.append(m);
    }
    return chat;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// The first paint of anything inside the conversation's viewport (the
// viewport itself is covered by the opaque content and gets none).
class FirstPaint : public QObject
{
public:
    QWidget *viewport = nullptr;
    QElapsedTimer *clock = nullptr;
    qint64 at = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || at >= 0 || !clock->isValid())
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && (widget == viewport || viewport->isAncestorOf(widget)))
            at = clock->nsecsElapsed();
        return false;
    }
};

struct Sample {
    double firstPaintMs;
    double settledMs;
    double cpuMs; // main thread, until every row is built
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1) + 0.5)];
}

// CPU time of this thread: on a shared machine the wall clock also counts
// the time other processes held the core.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

int intArg(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

struct Flushes {
    std::vector<double> cpuMs;
    std::vector<bool> taller; // whether the answer's row grew (or came)
};

int answerHeight(const ConversationView &view)
{
    const QList<MessageRow *> rows = view.rows();
    return rows.isEmpty() || rows.last()->isUser() ? -1 : rows.last()->height();
}

// Flushes of one answer streamed into the open chat, each piece copied in
// at once (the clock moves past the flush interval between pieces).
Flushes streamFlushes(convkit::Harness &h, const ConversationView &view, int flushes)
{
    const ORModel fast = convkit::model(QStringLiteral("vendor/fast:free"), QStringLiteral("Fast"));
    fake::StreamOptions held;
    held.holdAt = { 0 }; // the service sends nothing: the pieces come from here
    h.fake.enqueueChat(fast.id, fake::Reply::stream(fast.id, { QStringLiteral("x") }, held));
    std::chrono::nanoseconds now{ 0 };
    h.vm->setClock([&now] { return now; });
    h.say(QStringLiteral("Tell me about the service."));
    QCoreApplication::processEvents();
    Flushes result;
    for (int i = 0; i < flushes; ++i) {
        now += std::chrono::milliseconds(50);
        const QString piece = i % 12 == 11
            ? QStringLiteral("\n\n## Part %1\n\n").arg(i)
            : QStringLiteral("The **service** restarts with `systemctl restart %1`; ").arg(i);
        const int heightBefore = answerHeight(view);
        const double start = threadCpuMs();
        h.vm->replyRun()->receive(piece);
        QCoreApplication::processEvents();
        result.cpuMs.push_back(threadCpuMs() - start);
        result.taller.push_back(answerHeight(view) != heightBefore);
    }
    h.vm->stop();
    return result;
}

// The median of the flushes that did (or did not) make the answer taller,
// and how many there were.
QString kindMedian(const Flushes &flushes, bool taller)
{
    std::vector<double> kind;
    for (size_t i = 0; i < flushes.cpuMs.size(); ++i) {
        if (flushes.taller[i] == taller)
            kind.push_back(flushes.cpuMs[i]);
    }
    return kind.empty() ? QStringLiteral("none")
                        : QStringLiteral("%1 ms (%2)").arg(median(kind), 0, 'f', 3).arg(kind.size());
}

int streamInto(const QStringList &args)
{
    const int messages = intArg(args, QStringLiteral("--messages"), 2000);
    const int flushes = intArg(args, QStringLiteral("--flushes"), 1000);
    Flushes runs[2];
    for (int longOne = 0; longOne < 2; ++longOne) {
        convkit::Harness h;
        h.useModels({ convkit::model(QStringLiteral("vendor/fast:free"), QStringLiteral("Fast")) });
        ConversationView view(*h.vm);
        view.resize(1000, 700);
        view.show();
        if (longOne) {
            const Chat chat = longChat(messages);
            h.store->save(chat);
            h.store->drain();
            h.vm->select(chat.id);
        }
        for (int turn = 0; turn < 5; ++turn)
            QCoreApplication::processEvents();
        runs[longOne] = streamFlushes(h, view, flushes);
    }
    const std::vector<double> results[2] = { runs[0].cpuMs, runs[1].cpuMs };
    const double p99[2] = { percentile(results[0], 0.99), percentile(results[1], 0.99) };
    std::printf("streaming %d flushes, main-thread CPU per flush:\n", flushes);
    std::printf("  into a new chat:              median %.3f ms, p99 %.3f ms\n", median(results[0]), p99[0]);
    std::printf(
        "  into a chat of %4d messages: median %.3f ms, p99 %.3f ms\n", messages, median(results[1]), p99[1]);
    std::printf("  ratio of the p99s: %.2f, of the medians: %.2f\n", p99[1] / p99[0],
        median(results[1]) / median(results[0]));
    double means[2];
    for (int k = 0; k < 2; ++k)
        means[k] = std::accumulate(results[k].begin(), results[k].end(), 0.0) / double(results[k].size());
    std::printf("  by kind, median (count): answer as tall     new chat %s, long chat %s\n",
        qPrintable(kindMedian(runs[0], false)), qPrintable(kindMedian(runs[1], false)));
    std::printf("                           answer taller      new chat %s, long chat %s\n",
        qPrintable(kindMedian(runs[0], true)), qPrintable(kindMedian(runs[1], true)));
    std::printf("  mean per flush: new chat %.3f ms, long chat %.3f ms, ratio %.2f\n", means[0], means[1],
        means[1] / means[0]);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--stream")))
        return streamInto(args);
    const int runs = intArg(args, QStringLiteral("--runs"), 10);
    const int messages = intArg(args, QStringLiteral("--messages"), 400);

    QTemporaryDir dir;
    OpenRouterClient client(QStringLiteral("http://127.0.0.1:9")); // never called
    ChatStore store(dir.filePath(QStringLiteral("chats")));
    ModelRanker ranker(client, dir.filePath(QStringLiteral("models-cache.json")));
    ChatViewModel vm(store, ranker, client);
    const Chat chats[2] = { longChat(messages), longChat(messages) };
    for (const Chat &chat : chats)
        store.save(chat);
    store.drain();

    ConversationView view(vm);
    view.resize(1000, 700);
    view.show();
    app.processEvents();
    const long baseKiB = residentKiB();

    FirstPaint probe;
    QElapsedTimer clock;
    probe.clock = &clock;
    probe.viewport = view.scrollArea()->viewport();
    app.installEventFilter(&probe);

    std::vector<Sample> samples;
    for (int run = 0; run <= runs; ++run) { // run 0 is the cold open
        probe.at = -1;
        clock.start();
        const double cpuStart = threadCpuMs();
        vm.select(chats[run % 2].id);
        while (probe.at < 0)
            app.processEvents(QEventLoop::AllEvents, 5);
        // Whatever the open left for later turns of the event loop.
        for (int turn = 0; turn < 3; ++turn)
            app.processEvents();
        const qint64 complete = clock.nsecsElapsed();
        samples.push_back({ probe.at / 1e6, complete / 1e6, threadCpuMs() - cpuStart });
        app.processEvents(); // the last layout and paint
        // What the event loop does on its own once the open returns to it:
        // the previous chat's rows, deleted later, go.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const long openKiB = residentKiB();

    // From the top to the end, a viewport at a time, as a person paging
    // through the chat would.
    QScrollBar *bar = view.scrollArea()->verticalScrollBar();
    bar->setValue(0);
    app.processEvents();
    std::vector<double> stepCpuMs;
    while (bar->value() < bar->maximum()) {
        const double cpuStart = threadCpuMs();
        bar->setValue(bar->value() + bar->pageStep());
        app.processEvents();
        stepCpuMs.push_back(threadCpuMs() - cpuStart);
    }

    std::vector<double> paints, builds, cpus;
    for (size_t i = 1; i < samples.size(); ++i) {
        paints.push_back(samples[i].firstPaintMs);
        builds.push_back(samples[i].settledMs);
        cpus.push_back(samples[i].cpuMs);
    }
    std::printf("chat of %d messages, %zu rows, window 1000x700, %d warm runs\n", messages,
        size_t(view.rows().size()), runs);
    std::printf(
        "cold open:  first paint %.1f ms, settled %.1f ms\n", samples[0].firstPaintMs, samples[0].settledMs);
    if (paints.empty()) {
        std::printf("resident memory: %ld KiB before any chat, %ld KiB with the chat open (+%ld KiB)\n",
            baseKiB, openKiB, openKiB - baseKiB);
        return 0;
    }
    std::printf("warm opens: first paint median %.1f ms (min %.1f, max %.1f)\n", median(paints),
        *std::min_element(paints.begin(), paints.end()), *std::max_element(paints.begin(), paints.end()));
    std::printf("            settled median %.1f ms (min %.1f, max %.1f)\n", median(builds),
        *std::min_element(builds.begin(), builds.end()), *std::max_element(builds.begin(), builds.end()));
    std::printf("            main-thread CPU until then median %.1f ms\n", median(cpus));
    std::printf(
        "resident memory: %ld KiB before any chat, %ld KiB with the chat open after %d switches (+%ld KiB)\n",
        baseKiB, openKiB, runs, openKiB - baseKiB);
    if (!stepCpuMs.empty())
        std::printf("scrolling top to end: %zu steps of %d px, CPU per step median %.2f ms, p99 %.2f ms, max "
                    "%.2f ms\n",
            stepCpuMs.size(), bar->pageStep(), median(stepCpuMs), percentile(stepCpuMs, 0.99),
            *std::max_element(stepCpuMs.begin(), stepCpuMs.end()));
    return 0;
}
