// The peak memory that attaching a camera's photo adds: the file read off
// the main thread (a scaled decode), the white canvas and the JPEG of the
// attachment, as the rise of the process's resident high-water mark over
// what it held before. Each figure comes from a fresh child process (this
// program run again), so that neither writing the photo nor the allocator's
// leftovers of an earlier run hide the peak. A second column decodes the
// photo whole, as a reader without a scaled decode must, for comparison.
//
// Run from a Release build:
//   benchmarks/images/bench_attach_photo [runs (3)]

#include "core/images/ImageLoader.h"
#include "core/images/ImageTools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

const char *const writeFlag = "--write";
const char *const attachFlag = "--attach";
const char *const wholeFlag = "--attach-whole";

struct Photo {
    const char *name;
    QSize size;
};
const Photo photos[] = {
    { "12 MP (4000x3000)", { 4000, 3000 } },
    { "48 MP (8000x6000)", { 8000, 6000 } },
    { "48.8 MP (8064x6048)", { 8064, 6048 } },
};

// Kilobytes of a field of /proc/self/status ("VmHWM", "VmRSS").
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Starts the high-water mark again from the present resident size.
bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

// Smooth colour with fine texture, compressed about as a photo is.
int writePhoto(const QString &path, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = ((x * 7 + y * 13) ^ (x * y)) & 15;
            line[x] = qRgb((x * 255 / size.width() + grain) & 255, (y * 255 / size.height() + grain) & 255,
                ((x + y) / 16 + grain) & 255);
        }
    }
    return image.save(path, "JPEG", 92) ? 0 : 1;
}

// What the input bar does with a dropped file: read on the loader's thread,
// then the attachment's data URL on this one.
std::optional<QString> attachAsDropped(const QString &path)
{
    ImageLoader loader;
    PasteboardImages::Sources sources;
    sources.files = { path };
    std::optional<QString> url;
    QEventLoop loop;
    QObject::connect(&loader, &ImageLoader::loaded, &loop, [&](const QList<QImage> &images) {
        if (!images.isEmpty())
            url = ImageTools::dataURL(images.first());
        loop.quit();
    });
    loader.load(sources);
    loop.exec();
    return url;
}

std::optional<QString> attachDecodedWhole(const QString &path)
{
    QImageReader::setAllocationLimit(0);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    return image.isNull() ? std::nullopt : ImageTools::dataURL(image);
}

// Prints "<extra peak kB> <ms> <data URL characters>".
int attach(const QString &path, bool whole)
{
    const bool reset = resetPeak();
    const qint64 before = statusKb(reset ? "VmRSS" : "VmHWM");
    QElapsedTimer clock;
    clock.start();
    const std::optional<QString> url = whole ? attachDecodedWhole(path) : attachAsDropped(path);
    const qint64 ms = clock.elapsed();
    if (!url)
        return 1;
    std::printf("%lld %lld %lld\n", static_cast<long long>(statusKb("VmHWM") - before),
        static_cast<long long>(ms), static_cast<long long>(url->size()));
    return 0;
}

struct Run {
    qint64 peakKb = -1;
    qint64 ms = -1;
    qint64 chars = -1;
};

Run runChild(const QStringList &arguments)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return {};
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 3)
        return {};
    return { fields[0].toLongLong(), fields[1].toLongLong(), fields[2].toLongLong() };
}

Run median(QList<Run> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.peakKb < b.peakKb; });
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String(writeFlag))
        return writePhoto(args[2], QSize(args[3].toInt(), args[4].toInt()));
    if (args.size() == 3 && (args[1] == QLatin1String(attachFlag) || args[1] == QLatin1String(wholeFlag)))
        return attach(args[2], args[1] == QLatin1String(wholeFlag));

    const int runs = args.size() > 1 ? std::max(1, args[1].toInt()) : 3;
    QTemporaryDir dir;
    if (!dir.isValid() || !resetPeak())
        std::printf("note: /proc/self/clear_refs is not writable; peaks include start-up\n");
    std::printf("Extra peak resident memory while attaching a JPEG photo (median of %d runs)\n", runs);
    std::printf("%-22s %8s %17s %10s %17s %9s %15s\n", "photo", "file MB", "attach peak MiB", "attach ms",
        "whole-decode MiB", "whole ms", "data URL chars");
    for (const Photo &photo : photos) {
        const QString path = dir.filePath(QStringLiteral("photo.jpg"));
        if (QProcess::execute(QCoreApplication::applicationFilePath(),
                { QString::fromLatin1(writeFlag), path, QString::number(photo.size.width()),
                    QString::number(photo.size.height()) })
            != 0) {
            std::printf("%-22s could not be written\n", photo.name);
            return 1;
        }
        QList<Run> scaled;
        QList<Run> whole;
        for (int i = 0; i < runs; ++i) {
            scaled.append(runChild({ QString::fromLatin1(attachFlag), path }));
            whole.append(runChild({ QString::fromLatin1(wholeFlag), path }));
        }
        const Run s = median(scaled);
        const Run w = median(whole);
        if (s.peakKb < 0) {
            std::printf("%-22s did not attach\n", photo.name);
            return 1;
        }
        std::printf("%-22s %8.1f %17.1f %10lld %17.1f %9lld %15lld\n", photo.name, QFile(path).size() / 1e6,
            s.peakKb / 1024.0, static_cast<long long>(s.ms), w.peakKb / 1024.0, static_cast<long long>(w.ms),
            static_cast<long long>(s.chars));
        QFile::remove(path);
    }
    return 0;
}
