#include "ui/input/DataURLImage.h"

#include "core/images/DataURL.h"
#include "ui/style/Palette.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

namespace {

int decodes = 0;

// Enough pixels for the box on a screen of up to this scale; a full-size
// attachment (up to 1280 pixels a side) is not kept per thumbnail.
constexpr qreal keptScale = 3.0;

QRect fillingSource(const QSize &image, const QSize &box)
{
    const QSize cover = box.scaled(image, Qt::KeepAspectRatio);
    return QRect(QPoint((image.width() - cover.width()) / 2, (image.height() - cover.height()) / 2), cover);
}

} // namespace

DataURLImage::DataURLImage(const QString &dataURL, QWidget *parent)
    : QWidget(parent)
    , m_dataURL(dataURL)
    , m_size(90, 90)
{
    setImageSize(m_size);
    setAccessibleName(QStringLiteral("Image"));
}

void DataURLImage::setImageSize(const QSize &size)
{
    m_size = size;
    setFixedSize(size);
    update();
}

void DataURLImage::setCornerRadius(qreal radius)
{
    if (radius == m_radius)
        return;
    m_radius = radius;
    m_renderedFor = {};
    update();
}

QSize DataURLImage::sizeHint() const
{
    return m_size;
}

QImage DataURLImage::decode(const QString &dataURL)
{
    const std::optional<DataURL::Content> content = DataURL::decode(dataURL);
    if (!content)
        return {};
    QBuffer buffer;
    buffer.setData(content->bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    return reader.read();
}

int DataURLImage::decodeCount()
{
    return decodes;
}

void DataURLImage::decodeOnce()
{
    if (m_decoded)
        return;
    m_decoded = true;
    ++decodes;
    const QImage image = decode(m_dataURL);
    if (image.isNull())
        return;
    const QSize kept = (QSizeF(m_size) * keptScale).toSize();
    m_image = image.width() > kept.width() && image.height() > kept.height()
        ? image.scaled(kept, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
        : image;
}

QPixmap DataURLImage::rendered(const QSize &pixels, qreal dpr)
{
    if (m_renderedFor == pixels && !m_rendered.isNull())
        return m_rendered;
    const QRect source = fillingSource(m_image.size(), pixels);
    const QImage filled
        = m_image.copy(source).scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QPixmap out(pixels);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(filled);
    painter.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(pixels)), m_radius * dpr, m_radius * dpr);
    painter.end();
    out.setDevicePixelRatio(dpr);
    m_rendered = out;
    m_renderedFor = pixels;
    return m_rendered;
}

void DataURLImage::paintEvent(QPaintEvent *)
{
    decodeOnce();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_image.isNull()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::primary(palette(), 0.08));
        painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
        return;
    }
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (pixels.isEmpty())
        return;
    painter.drawPixmap(0, 0, rendered(pixels, dpr));
}
