// Cost of one streamed flush on the main thread: the reply grows by 40-120
// characters, AnswerView::setText re-parses it and edits its document, and
// the event loop lays out and paints the visible part of the conversation:
// the view sits in a row with a footer under it, as an answer does, below
// earlier messages that fill the window.
//
//   bench_markdown_flush [--shape blocks|paragraph|code|list|quote] [--runs N]
//                        [--length CHARS | --lengths CHARS,CHARS,...]
//                        [--snapshot FILE.png] [--document]
//
// With --lengths it measures each length in turn, with as many runs as give
// every length at least 1200 flushes, and ends with one line per length:
// the main thread's CPU p99 per flush and its ratio to the first length's,
// so that how the cost grows with the answer reads at a glance.
//
// With --document the reply goes into one QTextDocument through
// MarkdownDocument instead, and a flush is its edit and the document's
// layout at the column's width (no widgets, no paint).
//
// Shapes: blocks mixes headings, paragraphs, lists, code and quotes, as a
// how-to answer does; paragraph is one paragraph that never ends (a model
// that repeats itself without blank lines); code is one fenced block; list
// and quote are one long list and one long quotation.

#include "core/markdown/MarkdownDocument.h"
#include "core/markdown/MarkdownParser.h"
#include "ui/markdown/AnswerView.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

QString section(int n)
{
    const QString k = QString::number(n);
    return "## Step " + k
        + ": configure the *service*\n\n"
          "Before you start, check that the **daemon** is running with `systemctl status tolvi-"
        + k + "`. The documentation at [the manual](https://example.org/manual/" + k
        + ") explains each option; the defaults are fine for most setups, and a restart\n"
          "is only needed when you change the port or the _log level_.\n\n"
          "- Install the package\n"
          "- Edit the file `/etc/tolvi/"
        + k
        + ".conf`\n"
          "  - set `port = 80"
        + k
        + "`\n"
          "  - set `workers = 4`\n"
          "- Restart it\n\n"
          "1. Open a terminal\n"
          "2. Run the commands below\n"
          "3. Check the output\n\n"
          "```bash\n"
          "sudo apt-get install tolvi\n"
          "sudo sed -i 's/^port.*/port = 80"
        + k + "/' /etc/tolvi/" + k
        + ".conf\n"
          "for i in 1 2 3; do\n"
          "    curl -fsS http://127.0.0.1:80"
        + k
        + "/health && break\n"
          "    sleep 1\n"
          "done\n"
          "sudo systemctl restart tolvi\n"
          "```\n\n"
          "> Note: the **first** start can take a while, because the cache is built.\n\n"
          "If something fails, read the log with `journalctl -u tolvi -n 50` and compare it with the\n"
          "examples above. Most problems come from a typo in the configuration file.\n\n";
}

QString sentence(int n)
{
    return QStringLiteral("Sentence %1 says that the **service** restarts with `systemctl restart tolvi-%1`, "
                          "and that its [manual](https://example.org/%1) explains each option. ")
        .arg(n);
}

QString makeReply(const QString &shape, qsizetype length)
{
    QString reply;
    if (shape == QLatin1String("paragraph")) {
        for (int n = 1; reply.size() < length; ++n)
            reply += sentence(n);
    } else if (shape == QLatin1String("code")) {
        reply = QStringLiteral("```cpp\n");
        for (int n = 1; reply.size() < length; ++n)
            reply += QStringLiteral("    total += weight(%1) * value(\"item-%1\"); // step %1\n").arg(n);
    } else if (shape == QLatin1String("list")) {
        for (int n = 1; reply.size() < length; ++n)
            reply += QStringLiteral("- ") + sentence(n) + (n % 3 ? QString() : sentence(n + 1)) + u'\n';
    } else if (shape == QLatin1String("quote")) {
        for (int n = 1; reply.size() < length; ++n)
            reply += QStringLiteral("> ") + sentence(n) + u'\n';
    } else {
        reply = "# Setting up the service\n\nHere is a complete walk-through.\n\n";
        for (int n = 1; reply.size() < length; ++n)
            reply += section(n);
    }
    return reply.left(length);
}

// CPU time of this thread: on a shared machine the wall clock also counts
// the time other processes held the core.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Stats {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Stats statsOf(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1) + 0.5)]; };
    return { at(0.5), at(0.99), samples.back() };
}

QString option(const QStringList &args, const QString &name, const QString &fallback)
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

int intOption(const QStringList &args, const QString &name, int fallback)
{
    return option(args, name, QString::number(fallback)).toInt();
}

} // namespace

// Measures one reply streamed into a view; returns the main thread's CPU
// p99 per flush.
double measure(const QStringList &args, const QString &shape, const QString &reply, int runs);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = intOption(args, "--runs", 3);
    const QString shape = option(args, "--shape", QStringLiteral("blocks"));
    const QStringList shapes{ "blocks", "paragraph", "code", "list", "quote" };
    if (!shapes.contains(shape)) {
        std::fprintf(
            stderr, "unknown shape %s; one of: %s\n", qPrintable(shape), qPrintable(shapes.join(", ")));
        return 2;
    }
    QList<int> lengths;
    for (const QString &length : option(args, "--lengths", QString()).split(u',', Qt::SkipEmptyParts))
        lengths.append(length.toInt());
    if (lengths.isEmpty())
        lengths.append(intOption(args, "--length", 30000));
    QList<double> p99s;
    for (const int length : lengths) {
        // Every length gets at least minFlushes samples, so that a p99 is a
        // p99 and not the slowest of a few dozen.
        constexpr int minFlushes = 1200;
        const int perRun = std::max(1, length / 80); // pieces are 40 to 120 characters
        const int enough = lengths.size() > 1 ? (minFlushes + perRun - 1) / perRun : 1;
        p99s.append(measure(args, shape, makeReply(shape, length), std::max(runs, enough)));
    }
    if (lengths.size() > 1) {
        std::printf("\n%s: main-thread CPU p99 per flush by length\n", qPrintable(shape));
        for (qsizetype i = 0; i < lengths.size(); ++i)
            std::printf(
                "  %7d characters: %7.3f ms  (%.2f x the first)\n", lengths[i], p99s[i], p99s[i] / p99s[0]);
    }
    return 0;
}

double measure(const QStringList &args, const QString &shape, const QString &reply, int runs)
{

    if (args.contains(QStringLiteral("--document"))) {
        std::vector<double> cpuMs;
        for (int run = 0; run < runs; ++run) {
            QTextDocument document;
            document.setTextWidth(772);
            MarkdownDocument markdown(document);
            QRandomGenerator pieces(quint32(run + 1));
            for (qsizetype end = 0; end < reply.size();) {
                end = std::min(reply.size(), end + qsizetype(pieces.bounded(40, 121)));
                const double start = threadCpuMs();
                markdown.setText(reply.left(end));
                document.documentLayout()->documentSize();
                cpuMs.push_back(threadCpuMs() - start);
            }
        }
        const Stats cpu = statsOf(cpuMs);
        std::printf("%s reply of %lld characters into one document, %zu flushes over %d runs\n",
            qPrintable(shape), static_cast<long long>(reply.size()), cpuMs.size(), runs);
        std::printf("flush (parse + edit + layout), CPU: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
            cpu.median, cpu.p99, cpu.max);
        return cpu.p99;
    }

    std::vector<double> flushMs;
    std::vector<double> flushCpuMs;
    std::vector<double> setTextCpuMs;
    std::vector<double> layoutCpuMs;
    std::vector<double> paintCpuMs;
    std::vector<double> parseMs;
    QScrollArea *lastArea = nullptr;
    for (int run = 0; run < runs; ++run) {
        // A conversation column: a row in a scroll area that follows the end.
        auto *area = new QScrollArea;
        auto *row = new QWidget;
        auto *stack = new QVBoxLayout(row);
        stack->setContentsMargins(24, 16, 24, 16);
        stack->setSpacing(8);
        // The conversation before the answer fills the window, as it does in
        // a chat under way: the view follows the end from the first line,
        // at every length, rather than only once the answer is a screenful.
        auto *earlier = new QWidget;
        earlier->setFixedHeight(800);
        stack->addWidget(earlier);
        auto *view = new AnswerView;
        stack->addWidget(view);
        stack->addWidget(new QLabel(QStringLiteral("answered by Alpha")));
        area->setWidgetResizable(true);
        area->setWidget(row);
        area->resize(820, 700);
        area->show();
        QCoreApplication::processEvents();

        QRandomGenerator pieces(quint32(run + 1));
        for (qsizetype end = 0; end < reply.size();) {
            end = std::min(reply.size(), end + qsizetype(pieces.bounded(40, 121)));
            const QString text = reply.left(end); // the message text after the flush

            QElapsedTimer parseTimer;
            parseTimer.start();
            const qsizetype blockCount = MarkdownParser::blocks(text).size();
            parseMs.push_back(double(parseTimer.nsecsElapsed()) / 1e6);

            QElapsedTimer timer;
            timer.start();
            const double cpuStart = threadCpuMs();
            view->setText(text);
            const double cpuSetText = threadCpuMs();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
            const double cpuLayout = threadCpuMs();
            QCoreApplication::processEvents();
            const double cpuEnd = threadCpuMs();
            flushCpuMs.push_back(cpuEnd - cpuStart);
            setTextCpuMs.push_back(cpuSetText - cpuStart);
            layoutCpuMs.push_back(cpuLayout - cpuSetText);
            paintCpuMs.push_back(cpuEnd - cpuLayout);
            flushMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            Q_UNUSED(blockCount);
        }
        std::printf("run %d: %d document blocks, view %d px high\n", run + 1, view->document()->blockCount(),
            view->height());
        delete lastArea;
        lastArea = area;
    }

    const Stats flush = statsOf(flushMs);
    const Stats flushCpu = statsOf(flushCpuMs);
    const Stats parse = statsOf(parseMs);
    std::printf("%s reply of %lld characters, %zu flushes over %d runs\n", qPrintable(shape),
        static_cast<long long>(reply.size()), flushMs.size(), runs);
    std::printf("flush (parse + setText + layout + paint): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        flush.median, flush.p99, flush.max);
    std::printf("flush, CPU time of the main thread:      median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        flushCpu.median, flushCpu.p99, flushCpu.max);
    const Stats setTextCpu = statsOf(setTextCpuMs);
    const Stats layoutCpu = statsOf(layoutCpuMs);
    const Stats paintCpu = statsOf(paintCpuMs);
    std::printf("  of which setText (CPU):                median %.3f ms, p99 %.3f ms\n", setTextCpu.median,
        setTextCpu.p99);
    std::printf("  of which layout (CPU):                 median %.3f ms, p99 %.3f ms\n", layoutCpu.median,
        layoutCpu.p99);
    std::printf("  of which paint and events (CPU):       median %.3f ms, p99 %.3f ms\n", paintCpu.median,
        paintCpu.p99);
    std::printf("parse alone:                             median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        parse.median, parse.p99, parse.max);

    const qsizetype snapshot = args.indexOf("--snapshot");
    if (snapshot >= 0 && snapshot + 1 < args.size() && lastArea)
        lastArea->widget()->grab().save(args[snapshot + 1]);
    delete lastArea;
    return flushCpu.p99;
}
