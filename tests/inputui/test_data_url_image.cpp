// Images shown from data URLs: whatever picture the codec finds in them (its
// edge cases are tested with the codec, under tests/images), and a cached
// rendering.

#include "InputTestKit.h"
#include "ui/input/DataURLImage.h"

#include <QTest>

class DataURLImageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("image");
        const QImage picture = inputkit::filled({ 40, 20 }, Qt::magenta);
        const QString jpeg = inputkit::dataURL(picture, "JPEG");
        const qsizetype comma = jpeg.indexOf(QLatin1Char(','));
        QTest::newRow("jpeg") << jpeg << true;
        QTest::newRow("any prefix, png inside") << inputkit::dataURL(picture, "PNG") << true;
        QTest::newRow("no prefix at all") << jpeg.mid(comma) << true;
        QTest::newRow("no comma") << jpeg.mid(comma + 1) << false;
        QTest::newRow("a star inside") << QString(jpeg).insert(comma + 20, QLatin1Char('*')) << false;
        QTest::newRow("Base64 of no image")
            << QStringLiteral("data:image/jpeg;base64,aGVsbG8gd29ybGQ=") << false;
    }
    void decodes()
    {
        QFETCH(QString, url);
        QFETCH(bool, image);
        DataURLImage view(url);
        QVERIFY(!view.isDecoded());
        view.grab();
        QVERIFY(view.isDecoded());
        QCOMPARE(view.hasImage(), image);
    }

    void fillsItsBoxInsideRoundedCorners()
    {
        // Left half red, right half blue: filling a square crops the sides.
        QImage wide(200, 100, QImage::Format_RGB32);
        wide.fill(Qt::red);
        for (int y = 0; y < 100; ++y) {
            for (int x = 100; x < 200; ++x)
                wide.setPixel(x, y, qRgb(0, 0, 255));
        }
        QWidget host;
        host.setAttribute(Qt::WA_TranslucentBackground);
        auto *view = new DataURLImage(inputkit::dataURL(wide), &host);
        view->setImageSize({ 60, 60 });
        view->setCornerRadius(12);
        QCOMPARE(view->size(), QSize(60, 60));

        QImage shown(60, 60, QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        view->render(&shown, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0); // outside the rounded corner
        QCOMPARE(shown.pixel(10, 30), qRgb(255, 0, 0)); // the middle of the picture fills the box
        QCOMPARE(shown.pixel(50, 30), qRgb(0, 0, 255));
        QCOMPARE(qAlpha(shown.pixel(30, 0)), 255); // edge to edge, no letterbox
        QCOMPARE(qAlpha(shown.pixel(30, 59)), 255);
    }

    void undecodableShowsAFaintArea()
    {
        DataURLImage view(QStringLiteral("data:image/jpeg;base64,@@@"));
        view.setImageSize({ 40, 40 });
        QImage shown(40, 40, QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        view.render(&shown, QPoint(), QRegion(), QWidget::DrawChildren);
        const QRgb middle = shown.pixel(20, 20);
        QVERIFY(qAlpha(middle) > 10 && qAlpha(middle) < 40); // primary at 8 %
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    }

    void decodesOncePerInstance()
    {
        const QString url = inputkit::dataURL(inputkit::filled({ 30, 30 }, Qt::cyan));
        const int before = DataURLImage::decodeCount();
        DataURLImage first(url);
        for (const QSize size : { QSize(30, 30), QSize(56, 56), QSize(90, 90), QSize(56, 56) }) {
            first.setImageSize(size);
            first.grab();
        }
        first.setCornerRadius(4);
        first.grab();
        QCOMPARE(DataURLImage::decodeCount() - before, 1);
        DataURLImage second(url); // nothing is shared between instances
        second.grab();
        QCOMPARE(DataURLImage::decodeCount() - before, 2);
    }
};

QTEST_MAIN(DataURLImageTest)
#include "test_data_url_image.moc"
