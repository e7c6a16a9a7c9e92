#include "core/images/ImageTools.h"

#include "core/images/DataURL.h"
#include "core/images/ImageLog.h"

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

// The pixel forms that scale smoothly. A smooth scale of a 1-bit or palette
// image stays in its palette and loses the colours; with straight alpha it
// would drag the colour of invisible pixels into the visible edge.
static QImage scalable(const QImage &image)
{
    const QImage::Format format
        = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    return image.format() == format ? image : image.convertToFormat(format);
}

QImage flattened(const QImage &image)
{
    const QSize target = targetSize(image.size());
    if (image.isNull() || !target.isValid())
        return {};
    const QImage source = scalable(image);
    const QImage scaled = source.size() == target
        ? source
        : source.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage canvas(target, QImage::Format_RGB32);
    if (canvas.isNull() || scaled.isNull())
        return {};
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    // Into the whole canvas: drawn at a point, an image tagged with a device
    // pixel ratio (a "...@2x.png") would cover only part of it.
    painter.drawImage(canvas.rect(), scaled);
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
    if (!jpeg) {
        qCWarning(lcImages) << "the JPEG encoder failed on a picture of" << canvas.size();
        return std::nullopt;
    }
    return DataURL::encode(jpeg->bytes);
}

// Whether reader can shrink the picture while decoding and keep its colours:
// a JPEG decoder scales in the frequency domain, an opaque PNG is averaged
// row by row. Palette and transparent pictures would be scaled in their own
// form (see scalable()), so they are decoded whole and flattened() scales
// them.
static bool decodesScaledFaithfully(QImageReader &reader)
{
    if (!reader.supportsOption(QImageIOHandler::ScaledSize))
        return false;
    const QImage::Format format = reader.imageFormat();
    return format == QImage::Format_RGB32 || format == QImage::Format_Grayscale8;
}

std::optional<QImage> read(QImageReader &reader)
{
    reader.setAutoTransform(true);
    // The orientation is applied after decoding, so the size asked for is
    // that of the stored picture. targetSize() treats both sides alike, so
    // the upright picture still comes out at its own targetSize().
    const QSize stored = reader.size();
    const QSize target = targetSize(stored);
    if (target.isValid() && target != stored && decodesScaledFaithfully(reader))
        reader.setScaledSize(target);
    const QImage image = reader.read();
    if (image.isNull()) {
        qCInfo(lcImages) << "not a readable image:" << reader.errorString() << stored;
        return std::nullopt;
    }
    return image;
}

} // namespace ImageTools
