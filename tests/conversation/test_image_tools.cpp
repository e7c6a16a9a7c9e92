// Images into data URLs, and images out of clipboard and drop data.

#include "conversation/ImageTools.h"
#include "conversation/PasteboardImages.h"

#include <QBuffer>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

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

} // namespace

class ImageToolsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scalesDownNeverUp_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("landscape") << QSize(4000, 3000) << QSize(1280, 960);
        QTest::newRow("small stays") << QSize(800, 600) << QSize(800, 600);
        QTest::newRow("thin keeps a pixel") << QSize(5000, 2) << QSize(1280, 1);
        QTest::newRow("tall thin") << QSize(2, 5000) << QSize(1, 1280);
        QTest::newRow("exactly the limit") << QSize(1280, 1280) << QSize(1280, 1280);
        QTest::newRow("truncated") << QSize(1281, 1000) << QSize(1280, 999);
    }
    void scalesDownNeverUp()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, expected);
        const std::optional<QString> url = ImageTools::dataURL(filled(source, Qt::darkCyan));
        QVERIFY(url);
        QVERIFY(url->startsWith(QStringLiteral("data:image/jpeg;base64,")));
        const std::optional<QImage> decoded = ImageTools::decode(*url);
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), expected);
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
        const std::optional<QImage> decoded = ImageTools::decode(*ImageTools::dataURL(image));
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

    void decodeRejectsOtherText()
    {
        QVERIFY(!ImageTools::decode(QStringLiteral("data:image/png;base64,AAAA")));
        QVERIFY(!ImageTools::decode(QStringLiteral("data:image/jpeg;base64,@@@")));
    }

    void fileBeatsImageData()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.png"));
        QVERIFY(filled(QSize(30, 20), Qt::blue).save(path));
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(path) });
        data.setImageData(filled(QSize(7, 7), Qt::green));
        const QList<QImage> images = PasteboardImages::read(data);
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
        const QList<QImage> images = PasteboardImages::read(data);
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
        const QList<QImage> images = PasteboardImages::read(data);
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
        const QList<QImage> images = PasteboardImages::read(data);
        QCOMPARE(images.size(), 3);
        QCOMPARE(images.at(0).width(), 11);
        QCOMPARE(images.at(2).width(), 33);
    }

    void nothingUsable()
    {
        QMimeData data;
        data.setText(QStringLiteral("hello"));
        QVERIFY(PasteboardImages::read(data).isEmpty());
    }

    void pasteLetsTextWinOverImageData()
    {
        QMimeData both;
        both.setText(QStringLiteral("a caption"));
        both.setImageData(filled(QSize(7, 5), Qt::green));
        QVERIFY(PasteboardImages::forPaste(both).isEmpty());

        QMimeData imageOnly;
        imageOnly.setImageData(filled(QSize(7, 5), Qt::green));
        QCOMPARE(PasteboardImages::forPaste(imageOnly).size(), 1);

        // A file manager's copy: the file and its path as text.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("shot.png"));
        QVERIFY(filled(QSize(12, 8), Qt::blue).save(path));
        QMimeData copiedFile;
        copiedFile.setUrls({ QUrl::fromLocalFile(path) });
        copiedFile.setText(path);
        QCOMPARE(PasteboardImages::forPaste(copiedFile).size(), 1);
    }
};

QTEST_MAIN(ImageToolsTest)
#include "test_image_tools.moc"
