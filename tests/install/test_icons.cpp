// The bundled icons that stand in when the desktop has no icon theme.
#include "ui/icons/Icons.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every symbol the windows ask for.
const char *const usedSymbols[] = {
    "document-new",
    "preferences-system",
    "edit-copy",
    "object-select",
    "view-refresh",
    "media-playback-stop",
    "go-up",
    "go-next",
    "window-close",
    "dialog-warning",
    "mail-send",
    "image-missing",
    "view-hidden",
};

// The colour of the most opaque pixel, and how many pixels show at all.
struct Ink {
    QColor colour;
    int visiblePixels = 0;
};

Ink inkOf(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Ink ink;
    int bestAlpha = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0)
                ++ink.visiblePixels;
            if (c.alpha() > bestAlpha) {
                bestAlpha = c.alpha();
                ink.colour = c;
            }
        }
    }
    return ink;
}

// An icon theme folder whose only icon, document-new, is a red square.
void writeRedTheme(const QString &root, const QString &name)
{
    QDir folder(root + QLatin1Char('/') + name);
    QVERIFY(folder.mkpath(QStringLiteral("16x16/actions")));
    QFile index(folder.filePath(QStringLiteral("index.theme")));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Red\nDirectories=16x16/actions\n\n"
                "[16x16/actions]\nSize=16\nContext=Actions\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(folder.filePath(QStringLiteral("16x16/actions/document-new.png"))));
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A desktop without an icon theme: only the bundled icons are left.
        QIcon::setThemeSearchPaths({});
        QIcon::setFallbackSearchPaths({});
        QIcon::setThemeName(QStringLiteral("tolvi-test-no-theme"));
    }

    void everyUsedSymbolIsBundled_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const char *name : usedSymbols)
            QTest::newRow(name) << QByteArray(name);
    }
    void everyUsedSymbolIsBundled()
    {
        QFETCH(QByteArray, name);
        QVERIFY(Icons::bundledSymbolNames().contains(QString::fromLatin1(name)));
        const QIcon icon = Icons::symbol(name.constData());
        QVERIFY(!icon.isNull());
        for (int size : { 16, 24, 32, 48 }) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size));
            QCOMPARE(pixmap.size(), QSize(size, size));
            const int visible = inkOf(pixmap).visiblePixels;
            QVERIFY2(visible > size && visible < size * size, qPrintable(QString::number(visible)));
        }
    }

    // A desktop's own theme wins over the bundled drawing; hicolor, which Qt
    // names when the desktop names none, is not asked.
    void themeSymbolsWinOnlyInARealTheme_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<bool>("themeIconWins");
        QTest::newRow("the desktop's theme") << QStringLiteral("tolvi-test-red") << true;
        QTest::newRow("the fallback theme hicolor") << QStringLiteral("hicolor") << false;
    }
    void themeSymbolsWinOnlyInARealTheme()
    {
        QFETCH(QString, theme);
        QFETCH(bool, themeIconWins);
        QTemporaryDir themes;
        QVERIFY(themes.isValid());
        writeRedTheme(themes.path(), theme);
        QIcon::setThemeSearchPaths({ themes.path() });
        QIcon::setThemeName(theme);
        const QColor ink = inkOf(Icons::symbol("document-new").pixmap(QSize(16, 16))).colour;
        QIcon::setThemeSearchPaths({});
        QIcon::setThemeName(QStringLiteral("tolvi-test-no-theme"));
        QCOMPARE(ink.rgb() == QColor(Qt::red).rgb(), themeIconWins);
    }

    void unknownNameGivesNullIcon()
    {
        QVERIFY(Icons::symbol("tolvi-no-such-symbol").isNull());
        QVERIFY(Icons::bundledSymbol("../app/16").isNull());
        QVERIFY(Icons::bundledSymbol("").isNull());
    }

    void symbolsTakeThePaletteTextColour_data()
    {
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("disabledText");
        QTest::newRow("light palette") << QColor(0x20, 0x20, 0x20) << QColor(0x90, 0x90, 0x90);
        QTest::newRow("dark palette") << QColor(0xf0, 0xf0, 0xf0) << QColor(0x60, 0x60, 0x60);
    }
    void symbolsTakeThePaletteTextColour()
    {
        QFETCH(QColor, text);
        QFETCH(QColor, disabledText);
        const QPalette original = QGuiApplication::palette();
        QPalette palette = original;
        palette.setColor(QPalette::Active, QPalette::WindowText, text);
        palette.setColor(QPalette::Inactive, QPalette::WindowText, text);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
        QGuiApplication::setPalette(palette);

        const QIcon icon = Icons::symbol("go-up");
        QCOMPARE(inkOf(icon.pixmap(QSize(32, 32))).colour.rgb(), text.rgb());
        QCOMPARE(inkOf(icon.pixmap(QSize(32, 32), QIcon::Disabled)).colour.rgb(), disabledText.rgb());
        // Widgets paint through the icon, on screens of any density.
        QImage canvas(64, 64, QImage::Format_ARGB32_Premultiplied);
        canvas.setDevicePixelRatio(2.0);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        icon.paint(&painter, QRect(0, 0, 32, 32));
        painter.end();
        const Ink painted = inkOf(QPixmap::fromImage(canvas));
        QCOMPARE(painted.colour.rgb(), text.rgb());
        QVERIFY(painted.visiblePixels > 64);
        QGuiApplication::setPalette(original);
    }

    void warningKeepsItsColours()
    {
        const QColor colour = inkOf(Icons::symbol("dialog-warning").pixmap(QSize(32, 32))).colour;
        // Amber: strong red and green, little blue.
        QVERIFY2(colour.red() > 180 && colour.green() > 120 && colour.blue() < 80, qPrintable(colour.name()));
    }

    void highDensityScreensGetSharpPixels()
    {
        const QPixmap pixmap = Icons::symbol("window-close").pixmap(QSize(16, 16), 2.0);
        QCOMPARE(pixmap.size(), QSize(32, 32));
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    }

    void appIconHasEverySize()
    {
        const QIcon icon = Icons::app();
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
            const QPixmap pixmap = icon.pixmap(QSize(size, size));
            QCOMPARE(pixmap.size(), QSize(size, size));
            QVERIFY(inkOf(pixmap).visiblePixels > size * size / 3);
        }
    }
};

QTEST_MAIN(TestIcons)
#include "test_icons.moc"
