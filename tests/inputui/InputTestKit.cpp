#include "InputTestKit.h"

#include "ui/input/GrowingTextView.h"

#include <QBuffer>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

namespace inputkit {

QImage filled(const QSize &size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QString writePng(const QTemporaryDir &dir, const QString &name, const QSize &size, QColor colour)
{
    const QString path = dir.filePath(name);
    if (!filled(size, colour).save(path, "PNG"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString dataURL(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return QStringLiteral("data:image/%1;base64,").arg(QString::fromLatin1(format).toLower())
        + QString::fromLatin1(bytes.toBase64());
}

std::unique_ptr<QMimeData> filesMime(const QStringList &paths)
{
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    return mime;
}

BarFixture::BarFixture(int width)
{
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addStretch(1);
    bar = new InputBar(*h.vm, &window);
    layout->addWidget(bar);
    window.resize(width, 320);
}

bool BarFixture::showActive()
{
    window.show();
    return QTest::qWaitForWindowActive(&window);
}

void BarFixture::type(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            QTest::keyClick(bar->editor(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(bar->editor(), lines[i]);
    }
}

void BarFixture::settle()
{
    window.layout()->activate();
    QCoreApplication::processEvents();
}

void BarFixture::grabTo(const QString &name)
{
    const QString dir = qEnvironmentVariable("TOLVI_GRAB_DIR");
    if (dir.isEmpty())
        return;
    settle();
    window.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace inputkit
