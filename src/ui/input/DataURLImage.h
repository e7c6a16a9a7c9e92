#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

// An image given as a data URL ("data:<type>;base64,<data>"), filling its
// box while keeping its aspect ratio (what overflows is cut off) inside a
// rounded rectangle. The URL is decoded once per instance, the first time
// the image is painted; what cannot be decoded shows as a plain faint area.
class DataURLImage : public QWidget
{
    Q_OBJECT
public:
    explicit DataURLImage(const QString &dataURL, QWidget *parent = nullptr);

    const QString &dataURL() const { return m_dataURL; }
    void setImageSize(const QSize &size);
    void setCornerRadius(qreal radius);
    qreal cornerRadius() const { return m_radius; }

    bool isDecoded() const { return m_decoded; }
    // Whether decoding gave an image (false before the first paint).
    bool hasImage() const { return !m_image.isNull(); }

    QSize sizeHint() const override;

    // The image in a data URL, as DataURL::decode() reads it, in any format
    // the image readers know whatever the URL's media type. Null when either
    // fails.
    static QImage decode(const QString &dataURL);
    // Test seam: decodes made by every instance so far.
    static int decodeCount();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void decodeOnce();
    QPixmap rendered(const QSize &pixels, qreal dpr);

    QString m_dataURL;
    QSize m_size;
    qreal m_radius = 8;
    bool m_decoded = false;
    QImage m_image; // reduced to what the box can show; null when undecodable
    QPixmap m_rendered; // the rounded picture at the last painted size
    QSize m_renderedFor;
};
