#include "conversation/PasteboardImages.h"

#include "conversation/ImageTools.h"

#include <QImageReader>
#include <QMimeData>
#include <QUrl>

namespace PasteboardImages {

static QList<QImage> fileImages(const QMimeData &data)
{
    QList<QImage> images;
    if (!data.hasUrls())
        return images;
    for (const QUrl &url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        if (std::optional<QImage> image = ImageTools::readFile(url.toLocalFile()))
            images.append(*image);
    }
    return images;
}

// Image data placed by another application: Qt's own image form first, then
// any "image/..." format that a reader can decode.
static QList<QImage> dataImages(const QMimeData &data)
{
    if (data.hasImage()) {
        const QImage image = qvariant_cast<QImage>(data.imageData());
        if (!image.isNull())
            return { image };
    }
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    for (const QString &format : data.formats()) {
        if (!format.startsWith(QLatin1String("image/")) || !readable.contains(format.toLatin1()))
            continue;
        QImage image;
        if (image.loadFromData(data.data(format)))
            return { image };
    }
    return {};
}

QList<QImage> read(const QMimeData &data)
{
    QList<QImage> images = fileImages(data);
    if (images.isEmpty())
        images = dataImages(data);
    return images;
}

QList<QImage> forPaste(const QMimeData &data)
{
    QList<QImage> images = fileImages(data);
    if (images.isEmpty() && !data.hasText())
        images = dataImages(data);
    return images;
}

} // namespace PasteboardImages
