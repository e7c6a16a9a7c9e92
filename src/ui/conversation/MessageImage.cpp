#include "conversation/MessageImage.h"

#include <QByteArray>
#include <QPainter>
#include <QPainterPath>

namespace {

int decodes = 0;

// Base64 after the first comma; strict, so a damaged URL shows nothing.
QImage decodeDataUrl(const QString &url)
{
    const qsizetype comma = url.indexOf(QLatin1Char(','));
    if (comma < 0)
        return {};
    const auto result = QByteArray::fromBase64Encoding(url.mid(comma + 1).toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return {};
    return QImage::fromData(result.decoded);
}

} // namespace

MessageImage::MessageImage(const QString &dataUrl, QWidget *parent) : QWidget(parent), m_dataUrl(dataUrl)
{
    setFixedSize(90, 90);
    setAccessibleName(QStringLiteral("Image"));
}

int MessageImage::decodeCount()
{
    return decodes;
}

// Keeps only a square crop at twice the thumbnail's size, not the whole
// picture (up to 1280 pixels a side).
void MessageImage::decode()
{
    m_decoded = true;
    ++decodes;
    const QImage image = decodeDataUrl(m_dataUrl);
    if (!image.isNull())
        m_image = cropToFill(image, QSize(180, 180));
}

QImage MessageImage::cropToFill(const QImage &image, const QSize &pixels)
{
    const QImage scaled = image.scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QPoint offset((scaled.width() - pixels.width()) / 2, (scaled.height() - pixels.height()) / 2);
    return scaled.copy(QRect(offset, pixels));
}

QPixmap MessageImage::filled(const QSize &pixels)
{
    if (m_scaled.size() != pixels)
        m_scaled = QPixmap::fromImage(cropToFill(m_image, pixels));
    return m_scaled;
}

void MessageImage::paintEvent(QPaintEvent *)
{
    if (!m_decoded)
        decode();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    painter.setClipPath(shape);
    if (m_image.isNull()) {
        QColor empty = palette().color(QPalette::WindowText);
        empty.setAlphaF(0.08f);
        painter.fillRect(rect(), empty);
        return;
    }
    const qreal scale = devicePixelRatioF();
    QPixmap pixmap = filled(size() * scale);
    pixmap.setDevicePixelRatio(scale);
    painter.drawPixmap(rect(), pixmap);
}
