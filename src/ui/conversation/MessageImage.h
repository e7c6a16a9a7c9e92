#pragma once

#include <QPixmap>
#include <QWidget>

// One image of a sent message: a 90 x 90 thumbnail with rounded corners
// that fills its square and crops what overflows. The data URL is decoded
// once, the first time the thumbnail is painted, so that opening a long
// chat does not decode images nobody looks at.
class MessageImage : public QWidget
{
    Q_OBJECT
public:
    explicit MessageImage(const QString &dataUrl, QWidget *parent = nullptr);

    QString dataUrl() const { return m_dataUrl; }
    bool isDecoded() const { return m_decoded; }
    // Test seam: decodes made by all thumbnails so far.
    static int decodeCount();

    QSize sizeHint() const override { return {90, 90}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void decode();
    static QImage cropToFill(const QImage &image, const QSize &pixels);
    QPixmap filled(const QSize &pixels);

    QString m_dataUrl;
    bool m_decoded = false;
    QImage m_image; // the square crop, none when the URL did not decode
    QPixmap m_scaled; // m_image cropped and scaled to the last painted size
};
