#include "input/DropLoader.h"

#include "conversation/PasteboardImages.h"

#include <QMimeData>
#include <QUrl>
#include <QVariant>
#include <algorithm>

namespace {

bool isImageFormat(const QString &format)
{
    return format.startsWith(QLatin1String("image/")) || format == QLatin1String("application/x-qt-image");
}

bool hasLocalFile(const QMimeData &data)
{
    for (const QUrl &url : data.urls()) {
        if (url.isLocalFile())
            return true;
    }
    return false;
}

// What the images of a drop are made of: its local files and its image
// data, without remote URLs. Plain values, so the worker can own them.
struct ImageSources {
    QList<QUrl> files;
    QList<QPair<QString, QByteArray>> encoded; // "image/..." formats
    QVariant decoded; // an image another part of this program dragged

    static ImageSources of(const QMimeData &data)
    {
        ImageSources sources;
        for (const QUrl &url : data.urls()) {
            if (url.isLocalFile())
                sources.files.append(url);
        }
        for (const QString &format : data.formats()) {
            if (format.startsWith(QLatin1String("image/")))
                sources.encoded.append({ format, data.data(format) });
        }
        // Asking for the decoded form of a foreign drag would decode it here.
        if (sources.encoded.isEmpty() && data.hasImage())
            sources.decoded = data.imageData();
        return sources;
    }

    QList<QImage> read() const
    {
        QMimeData data;
        data.setUrls(files);
        for (const auto &[format, bytes] : encoded)
            data.setData(format, bytes);
        if (decoded.isValid())
            data.setImageData(decoded);
        return PasteboardImages::read(data);
    }
};

} // namespace

DropLoader::DropLoader(QObject *parent)
    : QObject(parent)
{
    // One drop after the other, so that images are attached in the order
    // they were dropped.
    m_pool.setMaxThreadCount(1);
}

DropLoader::~DropLoader()
{
    // The worker posts its result to this object; it must be done first.
    m_pool.waitForDone();
}

bool DropLoader::accepts(const QMimeData &data)
{
    if (hasLocalFile(data))
        return true;
    const QStringList formats = data.formats();
    return std::any_of(formats.begin(), formats.end(), isImageFormat);
}

void DropLoader::load(const QMimeData &data)
{
    ++m_pending;
    m_pool.start([this, sources = ImageSources::of(data)] {
        const QList<QImage> images = sources.read();
        QMetaObject::invokeMethod(
            this,
            [this, images] {
                --m_pending;
                Q_EMIT loaded(images);
            },
            Qt::QueuedConnection);
    });
}
