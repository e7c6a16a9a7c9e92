#include "core/images/PasteboardImages.h"

#include "core/images/ImageFile.h"
#include "core/images/ImageTools.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

namespace PasteboardImages {

namespace {

QStringList localFiles(const QMimeData &data)
{
    QStringList files;
    if (!data.hasUrls())
        return files;
    for (const QUrl &url : data.urls()) {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

// By the name's suffix only: QFileInfo::suffix() does not touch the file.
bool namesPicture(const QString &path)
{
    return QImageReader::supportedImageFormats().contains(QFileInfo(path).suffix().toLower().toLatin1());
}

// The first image format of data that a reader can decode: asking the
// clipboard for each format may make the other application convert the
// picture each time.
void copyImageData(const QMimeData &data, Sources &sources)
{
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    for (const QString &format : data.formats()) {
        if (!format.startsWith(QLatin1String("image/")) || !readable.contains(format.toLatin1()))
            continue;
        sources.dataFormat = format;
        sources.dataBytes = data.data(format);
        return;
    }
    // Only Qt's own form is left; asking for it when the data also carries
    // encoded formats would decode them here.
    if (data.hasImage())
        sources.image = qvariant_cast<QImage>(data.imageData());
}

std::optional<QImage> readData(const Sources &sources)
{
    if (!sources.image.isNull())
        return sources.image;
    if (sources.dataBytes.isEmpty())
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(sources.dataBytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return ImageTools::read(reader);
}

} // namespace

bool mayHoldImages(const QMimeData &data)
{
    if (data.hasImage() || !localFiles(data).isEmpty())
        return true;
    const QStringList formats = data.formats();
    return std::any_of(formats.begin(), formats.end(),
        [](const QString &format) { return format.startsWith(QLatin1String("image/")); });
}

Sources ofDrop(const QMimeData &data)
{
    Sources sources;
    sources.files = localFiles(data);
    copyImageData(data, sources);
    return sources;
}

Sources ofPaste(const QMimeData &data)
{
    Sources sources;
    for (const QString &path : localFiles(data)) {
        if (namesPicture(path))
            sources.files.append(path);
    }
    if (!data.hasText())
        copyImageData(data, sources);
    return sources;
}

QList<QImage> read(const Sources &sources)
{
    QList<QImage> images;
    for (const QString &path : sources.files) {
        if (std::optional<QImage> image = ImageFile::read(path))
            images.append(*image);
    }
    if (images.isEmpty()) {
        if (std::optional<QImage> image = readData(sources))
            images.append(*image);
    }
    return images;
}

} // namespace PasteboardImages
