// What one save of a large chat costs: the main thread's share (copy, sort,
// queue) and the writer's (encode and write), for a chat of 200 messages with
// four 3 MB images.
#include "core/store/ChatStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kRuns = 20;
constexpr int kMessages = 200;
constexpr int kImages = 4;
constexpr qsizetype kImageChars = 4'000'000;

QString imageDataUrl(char fill)
{
    const QString prefix = QStringLiteral("data:image/jpeg;base64,");
    return prefix + QString(kImageChars - prefix.size(), QChar::fromLatin1(fill));
}

Chat bigChat()
{
    Chat chat;
    chat.title = QStringLiteral("Benchmark");
    for (int i = 0; i < kMessages; ++i) {
        const bool user = i % 2 == 0;
        ChatMessage message{ QUuid::createUuid(), user ? QStringLiteral("user") : QStringLiteral("assistant"),
            QStringLiteral("Message %1: ").arg(i) + QString(400, u'x'), {}, std::nullopt, std::nullopt };
        if (user && i < 2 * kImages)
            message.images = { imageDataUrl(char('A' + i)) };
        if (!user)
            message.answeredBy = QStringLiteral("Some Model");
        chat.messages.append(message);
    }
    return chat;
}

// CPU time of the calling thread: unlike wall time, not inflated when a
// loaded machine preempts the thread in the middle of a save.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Figures {
    double median = 0;
    double max = 0;
};

Figures summarise(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return { median, values.last() };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    ChatStore store(dir.path());
    Chat chat = bigChat();
    store.save(chat); // warm-up: first file, page cache, allocator
    store.drain();

    QList<double> mainMs;
    QList<double> mainCpuMs;
    QList<double> writerMs;
    for (int run = 0; run < kRuns; ++run) {
        chat.title = QStringLiteral("Benchmark %1").arg(run);
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = threadCpuMs();
        store.save(chat);
        mainCpuMs.append(threadCpuMs() - cpuBefore);
        mainMs.append(timer.nsecsElapsed() / 1e6);
        store.drain();
        writerMs.append(timer.nsecsElapsed() / 1e6);
    }

    const Figures mainThread = summarise(mainMs);
    const Figures mainCpu = summarise(mainCpuMs);
    const Figures writer = summarise(writerMs);
    std::printf("chat: %d messages, %d images of %lld characters, %d runs\n", kMessages, kImages,
        static_cast<long long>(kImageChars), kRuns);
    std::printf("ChatStore::save on the main thread: median %.3f ms, max %.3f ms\n", mainThread.median,
        mainThread.max);
    std::printf(
        "  its CPU time (no preemption):     median %.3f ms, max %.3f ms\n", mainCpu.median, mainCpu.max);
    std::printf(
        "queued until written (drain):       median %.1f ms, max %.1f ms\n", writer.median, writer.max);
    return 0;
}
