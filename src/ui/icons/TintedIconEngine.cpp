#include "ui/icons/TintedIconEngine.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>
#include <algorithm>

namespace {

QColor inkFor(QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
    case QIcon::Disabled:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case QIcon::Normal:
    case QIcon::Active:
        break;
    }
    return palette.color(QPalette::Active, QPalette::WindowText);
}

} // namespace

TintedIconEngine::TintedIconEngine(const QString &folder, const QList<int> &sizes)
    : m_folder(folder)
    , m_sizes(sizes)
{
    std::sort(m_sizes.begin(), m_sizes.end());
}

int TintedIconEngine::maskSizeFor(int extent) const
{
    for (int size : m_sizes) {
        if (size >= extent)
            return size;
    }
    return m_sizes.isEmpty() ? 0 : m_sizes.last();
}

QSize TintedIconEngine::actualSize(const QSize &size, QIcon::Mode, QIcon::State)
{
    const int extent = std::min({ size.width(), size.height(), m_sizes.isEmpty() ? 0 : m_sizes.last() });
    return QSize(extent, extent);
}

QPixmap TintedIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State)
{
    const int extent = std::min(size.width(), size.height());
    if (extent <= 0 || m_sizes.isEmpty())
        return QPixmap();
    const QColor ink = inkFor(mode);
    const QString cacheKey
        = QStringLiteral("tolvi-tinted:%1:%2:%3").arg(m_folder).arg(extent).arg(ink.rgba());
    QPixmap cached;
    if (QPixmapCache::find(cacheKey, &cached))
        return cached;

    QImage image(QStringLiteral("%1/%2.png").arg(m_folder).arg(maskSizeFor(extent)));
    if (image.isNull())
        return QPixmap();
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.width() != extent)
        image = image.scaled(extent, extent, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), ink);
    painter.end();

    const QPixmap tinted = QPixmap::fromImage(image);
    QPixmapCache::insert(cacheKey, tinted);
    return tinted;
}

// QIcon (Qt 6.4) asks with the size already in device pixels.
QPixmap TintedIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale)
{
    QPixmap scaled = pixmap(size, mode, state);
    scaled.setDevicePixelRatio(scale);
    return scaled;
}

void TintedIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state)
{
    const qreal scale = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const int extent = std::min(rect.width(), rect.height());
    const int deviceExtent = qRound(extent * scale);
    const QPixmap drawn = pixmap(QSize(deviceExtent, deviceExtent), mode, state);
    if (drawn.isNull())
        return;
    const QRect target(
        rect.x() + (rect.width() - extent) / 2, rect.y() + (rect.height() - extent) / 2, extent, extent);
    painter->drawPixmap(target, drawn);
}

QList<QSize> TintedIconEngine::availableSizes(QIcon::Mode, QIcon::State)
{
    QList<QSize> sizes;
    for (int size : m_sizes)
        sizes.append(QSize(size, size));
    return sizes;
}

QString TintedIconEngine::key() const
{
    return QStringLiteral("TolviTintedIconEngine");
}

QIconEngine *TintedIconEngine::clone() const
{
    return new TintedIconEngine(m_folder, m_sizes);
}

bool TintedIconEngine::isNull()
{
    return m_sizes.isEmpty();
}
