#include "conversation/ImageTools.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <algorithm>

namespace ImageTools {

QSize targetSize(const QSize &size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return {};
    const double scale = std::min(double(maxSide) / std::max(size.width(), size.height()), 1.0);
    const int width = std::max(1, int(size.width() * scale));
    const int height = std::max(1, int(size.height() * scale));
    return { width, height };
}

QImage flattened(const QImage &image)
{
    const QSize target = targetSize(image.size());
    if (image.isNull() || !target.isValid())
        return {};
    // Smooth scaling blends neighbours; with straight alpha that would drag
    // the colour of invisible pixels into the visible edge.
    const QImage source
        = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied) : image;
    const QImage scaled = source.size() == target
        ? source
        : source.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage canvas(target, QImage::Format_RGB32);
    if (canvas.isNull())
        return {};
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(QPoint(0, 0), scaled);
    painter.end();
    return canvas;
}

static std::optional<QByteArray> jpegAt(const QImage &canvas, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(canvas))
        return std::nullopt;
    return bytes;
}

std::optional<Jpeg> encodeJpeg(const QImage &canvas, qsizetype byteLimit)
{
    int quality = firstQuality;
    std::optional<QByteArray> bytes = jpegAt(canvas, quality);
    while (bytes && bytes->size() > byteLimit && quality > lowestQualityToLower) {
        quality -= qualityStep;
        bytes = jpegAt(canvas, quality);
    }
    if (!bytes)
        return std::nullopt;
    return Jpeg{ *bytes, quality };
}

std::optional<QString> dataURL(const QImage &image)
{
    const QImage canvas = flattened(image);
    if (canvas.isNull())
        return std::nullopt;
    const std::optional<Jpeg> jpeg = encodeJpeg(canvas);
    if (!jpeg)
        return std::nullopt;
    return dataURLPrefix + QString::fromLatin1(jpeg->bytes.toBase64());
}

std::optional<QImage> decode(const QString &dataURL)
{
    if (!dataURL.startsWith(dataURLPrefix))
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(
        dataURL.mid(dataURLPrefix.size()).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QImage image;
    if (!image.loadFromData(*decoded, "JPEG"))
        return std::nullopt;
    return image;
}

std::optional<QImage> readFile(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace ImageTools
