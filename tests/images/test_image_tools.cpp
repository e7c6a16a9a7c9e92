// Images into data URLs and back, images out of clipboard and drop data, and
// the loader that reads them off the main thread.

#include "core/images/DataURL.h"
#include "core/images/ImageFile.h"
#include "core/images/ImageLoader.h"
#include "core/images/ImageTools.h"
#include "core/images/PasteboardImages.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <sys/stat.h>

namespace {

QImage filled(const QSize &size, QColor colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

// Noise does not compress, so a JPEG of it is large at every quality.
QImage noise(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = 0xff000000u | (state >> 8);
        }
    }
    return image;
}

bool near(QRgb pixel, QColor expected, int tolerance = 12)
{
    return std::abs(qRed(pixel) - expected.red()) <= tolerance
        && std::abs(qGreen(pixel) - expected.green()) <= tolerance
        && std::abs(qBlue(pixel) - expected.blue()) <= tolerance;
}

// Red on the left half, blue on the right, in the given pixel format.
QImage halves(const QSize &size, QImage::Format format)
{
    QImage image = filled(size, Qt::blue);
    QPainter(&image).fillRect(QRect(0, 0, size.width() / 2, size.height()), Qt::red);
    if (format == QImage::Format_Mono)
        return image.convertToFormat(format, { qRgb(255, 0, 0), qRgb(0, 0, 255) });
    return image.convertToFormat(format);
}

// An Exif block that tags a JPEG as a camera held upright does: turn it 90
// degrees clockwise to show it (orientation 6).
const QByteArray turnedClockwise
    = QByteArray::fromHex("ffe100224578696600004d4d002a00000008000101120003000000010006000000000000");

QString writePicture(const QTemporaryDir &dir, const QString &name, const QImage &image, bool turned)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, QFileInfo(name).suffix().toLatin1().constData(), 90))
        qFatal("cannot encode %s", qPrintable(name));
    if (turned)
        bytes.insert(2, turnedClockwise); // right after the start-of-image marker
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
    return file.fileName();
}

// Lowers Qt's limit on what one decoded picture may take, for a scope.
struct AllocationLimit {
    explicit AllocationLimit(int megabytes) { QImageReader::setAllocationLimit(megabytes); }
    ~AllocationLimit() { QImageReader::setAllocationLimit(previous); }
    const int previous = QImageReader::allocationLimit();
};

// The picture of an attachment's data URL, read as the JPEG it must be.
std::optional<QImage> jpegOf(const QString &url)
{
    const std::optional<QByteArray> bytes = DataURL::jpeg(url);
    QImage image;
    if (!bytes || !image.loadFromData(*bytes, "JPEG"))
        return std::nullopt;
    return image;
}

PasteboardImages::Sources filesOf(const QStringList &paths)
{
    PasteboardImages::Sources sources;
    sources.files = paths;
    return sources;
}

} // namespace

class ImageToolsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scalesDownNeverUp_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<qreal>("pixelRatio");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("landscape") << QSize(4000, 3000) << 1.0 << QSize(1280, 960);
        QTest::newRow("small stays") << QSize(800, 600) << 1.0 << QSize(800, 600);
        QTest::newRow("thin keeps a pixel") << QSize(5000, 2) << 1.0 << QSize(1280, 1);
        QTest::newRow("tall thin") << QSize(2, 5000) << 1.0 << QSize(1, 1280);
        QTest::newRow("exactly the limit") << QSize(1280, 1280) << 1.0 << QSize(1280, 1280);
        QTest::newRow("truncated") << QSize(1281, 1000) << 1.0 << QSize(1280, 999);
        // Tagged for a high-density screen ("@2x"): natural pixels count.
        QTest::newRow("2x, scaled") << QSize(2000, 1000) << 2.0 << QSize(1280, 640);
        QTest::newRow("2x, kept") << QSize(200, 100) << 2.0 << QSize(200, 100);
    }
    void scalesDownNeverUp()
    {
        QFETCH(QSize, source);
        QFETCH(qreal, pixelRatio);
        QFETCH(QSize, expected);
        QImage image = filled(source, Qt::darkCyan);
        image.setDevicePixelRatio(pixelRatio);
        const std::optional<QString> url = ImageTools::dataURL(image);
        QVERIFY(url);
        QVERIFY(url->startsWith(QStringLiteral("data:image/jpeg;base64,")));
        const std::optional<QImage> decoded = jpegOf(*url);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), expected);
        // The picture covers the whole canvas, up to its far corner.
        QVERIFY(near(decoded->pixel(expected.width() - 1, expected.height() - 1), Qt::darkCyan));
    }

    void emptyImageGivesNothing()
    {
        QVERIFY(!ImageTools::dataURL(QImage()));
        QVERIFY(!ImageTools::dataURL(QImage(QSize(0, 10), QImage::Format_RGB32)));
    }

    void transparencyBecomesWhite()
    {
        QImage image = filled(QSize(200, 100), Qt::transparent, QImage::Format_ARGB32);
        QPainter(&image).fillRect(QRect(100, 0, 100, 100), Qt::red);
        const std::optional<QImage> decoded = jpegOf(*ImageTools::dataURL(image));
        QVERIFY(decoded);
        QVERIFY(near(decoded->pixel(20, 50), Qt::white));
        QVERIFY(near(decoded->pixel(180, 50), Qt::red, 30));
    }

    void qualityStepsDownOnlyWhileTooBig()
    {
        const QImage canvas = ImageTools::flattened(noise(QSize(400, 300)));
        const std::optional<ImageTools::Jpeg> best = ImageTools::encodeJpeg(canvas, 100'000'000);
        QVERIFY(best);
        QCOMPARE(best->quality, 85);
        // Just too big at 85: one step down is enough.
        const std::optional<ImageTools::Jpeg> second = ImageTools::encodeJpeg(canvas, best->bytes.size() - 1);
        QCOMPARE(second->quality, 65);
        QVERIFY(second->bytes.size() < best->bytes.size());
        // Nothing is small enough: the last try, at 25, is kept.
        const std::optional<ImageTools::Jpeg> last = ImageTools::encodeJpeg(canvas, 1);
        QCOMPARE(last->quality, 25);
        QVERIFY(!last->bytes.isEmpty());
    }

    // One reading of data URLs for the thumbnails, the export and the
    // attachments: strict Base64 after the first comma, the media type from
    // what comes before it.
    void dataURLs_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<std::optional<QByteArray>>("bytes");
        QTest::addColumn<QString>("mediaType");
        QTest::addColumn<bool>("jpeg");
        const std::optional<QByteArray> none;
        const QByteArray picture("\xff\xd8 picture");
        QTest::newRow("jpeg") << "data:image/jpeg;base64,/9ggcGljdHVyZQ==" << std::optional(picture)
                              << "image/jpeg" << true;
        QTest::newRow("png") << "data:image/png;base64,AAAA" << std::optional(QByteArray(3, '\0'))
                             << "image/png" << false;
        QTest::newRow("no prefix at all") << ",/9ggcGljdHVyZQ==" << std::optional(picture) << "" << false;
        QTest::newRow("not said to be Base64")
            << "data:image/jpeg,/9ggcGljdHVyZQ==" << std::optional(picture) << "" << false;
        QTest::newRow("no comma") << "/9ggcGljdHVyZQ==" << none << "" << false;
        QTest::newRow("empty") << "" << none << "" << false;
        QTest::newRow("nothing after the comma") << "data:image/jpeg;base64," << none << "" << false;
        QTest::newRow("not Base64") << "data:image/jpeg;base64,@@@" << none << "" << false;
        QTest::newRow("a star inside") << "data:image/jpeg;base64,/9gg*cGljdHVyZQ==" << none << "" << false;
        QTest::newRow("a line break inside")
            << "data:image/jpeg;base64,/9gg\ncGljdHVyZQ==" << none << "" << false;
        QTest::newRow("URL-safe alphabet")
            << "data:image/jpeg;base64,_9ggcGljdHVyZQ==" << none << "" << false;
        QTest::newRow("beyond Latin-1")
            << QStringLiteral("data:image/jpeg;base64,/9gg\u0100cGljdHVyZQ==") << none << "" << false;
    }
    void dataURLs()
    {
        QFETCH(QString, url);
        QFETCH(std::optional<QByteArray>, bytes);
        QFETCH(QString, mediaType);
        QFETCH(bool, jpeg);
        const std::optional<DataURL::Content> content = DataURL::decode(url);
        QCOMPARE(content.has_value(), bytes.has_value());
        if (content) {
            QCOMPARE(content->bytes, *bytes);
            QCOMPARE(content->mediaType, mediaType);
        }
        QCOMPARE(DataURL::jpeg(url), jpeg ? bytes : std::nullopt);
    }

    void dataURLsAreWrittenAsTheyAreRead()
    {
        QCOMPARE(DataURL::encode("\xff\xd8 picture"), "data:image/jpeg;base64,/9ggcGljdHVyZQ==");
        const QString png = DataURL::encode(QByteArray(3, '\0'), QStringLiteral("image/png"));
        QCOMPARE(png, "data:image/png;base64,AAAA");
        QCOMPARE(DataURL::decode(png), std::optional(DataURL::Content{ "image/png", QByteArray(3, '\0') }));
    }

    // Files as cameras and screens make them, read as a drop reads them and
    // turned into the attachment.
    void filesBecomeWhatTheyShow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pixels"); // QImage::Format of the picture written
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("turned");
        QTest::addColumn<QSize>("expected");
        const int rgb = QImage::Format_RGB32;
        // Decoded whole, the photo would take 24 MB, above the limit the
        // test sets: only a scaled decode gets it in.
        QTest::newRow("photo beyond the decode limit")
            << "photo.jpg" << rgb << QSize(3000, 2000) << false << QSize(1280, 853);
        QTest::newRow("photo turned by its orientation tag")
            << "turned.jpg" << rgb << QSize(3000, 2000) << true << QSize(853, 1280);
        QTest::newRow("small photo turned")
            << "small.jpg" << rgb << QSize(300, 200) << true << QSize(200, 300);
        QTest::newRow("@2x screenshot")
            << "shot@2x.png" << rgb << QSize(2000, 1000) << false << QSize(1280, 640);
        QTest::newRow("1-bit PNG") << "scan.png" << int(QImage::Format_Mono) << QSize(2000, 1000) << false
                                   << QSize(1280, 640);
    }
    void filesBecomeWhatTheyShow()
    {
        QFETCH(QString, name);
        QFETCH(int, pixels);
        QFETCH(QSize, size);
        QFETCH(bool, turned);
        QFETCH(QSize, expected);
        QTemporaryDir dir;
        const QString path = writePicture(dir, name, halves(size, QImage::Format(pixels)), turned);
        const AllocationLimit limit(12);

        const QList<QImage> images = PasteboardImages::read(filesOf({ path }));
        QCOMPARE(images.size(), 1);
        const std::optional<QString> url = ImageTools::dataURL(images.first());
        QVERIFY(url);
        const QImage attached = jpegOf(*url).value_or(QImage());

        QCOMPARE(attached.size(), expected);
        // The red half first: on the left, or on top once turned upright.
        const int w = expected.width();
        const int h = expected.height();
        QVERIFY(near(attached.pixel(turned ? QPoint(w / 2, h / 4) : QPoint(w / 4, h / 2)), Qt::red, 40));
        QVERIFY(
            near(attached.pixel(turned ? QPoint(w / 2, h * 3 / 4) : QPoint(w * 3 / 4, h / 2)), Qt::blue, 40));
    }

    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("images");
        // Opening a pipe would wait for a writer for ever.
        QTest::newRow("named pipe") << "fifo" << 0;
        QTest::newRow("link to a picture") << "link" << 1;
    }
    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QFETCH(int, images);
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("picture.png"));
        QVERIFY(filled(QSize(30, 20), Qt::blue).save(picture));
        const QString path = dir.filePath(QStringLiteral("other.png"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(picture, path));

        QCOMPARE(PasteboardImages::read(filesOf({ path })).size(), images);
    }

    void loaderDeliversInTheOrderGivenPastAStalledRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("first.png"));
        QVERIFY(filled(QSize(30, 20), Qt::blue).save(path));
        PasteboardImages::Sources data;
        data.image = filled(QSize(7, 5), Qt::green);
        ImageLoader loader;
        QSignalSpy loaded(&loader, &ImageLoader::loaded);
        ImageFile::Stall stall;

        loader.load(filesOf({ path }));
        loader.load(data); // reads no file: done long before the first
        QTRY_COMPARE(stall.waiting(), 1);
        QCOMPARE(loader.pending(), 2);
        stall.release();

        QTRY_COMPARE(loaded.size(), 2);
        QCOMPARE(loaded.at(0).at(0).value<QList<QImage>>().first().size(), QSize(30, 20));
        QCOMPARE(loaded.at(1).at(0).value<QList<QImage>>().first().size(), QSize(7, 5));
        QCOMPARE(loader.pending(), 0);
    }

    void loaderGoneBeforeAStalledReadEndsHearsNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("late.png"));
        QVERIFY(filled(QSize(30, 20), Qt::blue).save(path));
        ImageFile::Stall stall;
        int delivered = 0;
        {
            ImageLoader loader;
            connect(&loader, &ImageLoader::loaded, this, [&delivered] { ++delivered; });
            loader.load(filesOf({ path }));
            QTRY_COMPARE(stall.waiting(), 1);
        } // returns while the read is stuck
        stall.release();
        QTRY_COMPARE(stall.finished(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(delivered, 0);
    }

    void fileBeatsImageData()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.png"));
        QVERIFY(filled(QSize(30, 20), Qt::blue).save(path));
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        data.setImageData(filled(QSize(7, 7), Qt::green));
        const QList<QImage> images = PasteboardImages::read(PasteboardImages::ofDrop(data));
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().size(), QSize(30, 20));
    }

    void imageDataWhenNoFileIsAnImage()
    {
        QTemporaryDir dir;
        const QString text = dir.filePath(QStringLiteral("notes.txt"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(text), QUrl(QStringLiteral("https://example.com/remote.png")) });
        data.setImageData(filled(QSize(7, 5), Qt::green));
        const QList<QImage> images = PasteboardImages::read(PasteboardImages::ofDrop(data));
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().size(), QSize(7, 5));
    }

    void encodedImageDataFormats()
    {
        // What another application offers as "image/png" bytes.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(filled(QSize(9, 4), Qt::yellow).save(&buffer, "PNG"));
        QMimeData data;
        data.setData(QStringLiteral("image/png"), png);
        const QList<QImage> images = PasteboardImages::read(PasteboardImages::ofDrop(data));
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().size(), QSize(9, 4));
    }

    void severalFilesInOrder()
    {
        QTemporaryDir dir;
        QList<QUrl> urls;
        for (int width : { 11, 22, 33 }) {
            const QString path = dir.filePath(QStringLiteral("%1.png").arg(width));
            QVERIFY(filled(QSize(width, 5), Qt::gray).save(path));
            urls.append(QUrl::fromLocalFile(path));
        }
        QMimeData data;
        data.setUrls(urls);
        const QList<QImage> images = PasteboardImages::read(PasteboardImages::ofDrop(data));
        QCOMPARE(images.size(), 3);
        QCOMPARE(images.at(0).width(), 11);
        QCOMPARE(images.at(2).width(), 33);
    }

    void nothingUsable()
    {
        QMimeData data;
        data.setText(QStringLiteral("hello"));
        QVERIFY(PasteboardImages::read(PasteboardImages::ofDrop(data)).isEmpty());
    }

    void pasteLetsTextWinOverImageData()
    {
        QMimeData both;
        both.setText(QStringLiteral("a caption"));
        both.setImageData(filled(QSize(7, 5), Qt::green));
        QVERIFY(PasteboardImages::ofPaste(both).isEmpty());

        QMimeData imageOnly;
        imageOnly.setImageData(filled(QSize(7, 5), Qt::green));
        QCOMPARE(PasteboardImages::read(PasteboardImages::ofPaste(imageOnly)).size(), 1);

        // A file manager's copy: the file and its path as text.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("shot.png"));
        QVERIFY(filled(QSize(12, 8), Qt::blue).save(path));
        QMimeData copiedFile;
        copiedFile.setUrls({ QUrl::fromLocalFile(path) });
        copiedFile.setText(path);
        QCOMPARE(PasteboardImages::read(PasteboardImages::ofPaste(copiedFile)).size(), 1);
    }
};

QTEST_MAIN(ImageToolsTest)
#include "test_image_tools.moc"
