#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

class QImageReader;

// Turns images into the one form the application keeps, stores and sends:
// "data:image/jpeg;base64," + Base64 of an RGB JPEG of at most 1280 pixels on
// its longer side (DataURL.h reads it back). Stateless; safe on any thread.
namespace ImageTools {

constexpr int maxSide = 1280;
constexpr qsizetype maxJpegBytes = 3'000'000;
constexpr int firstQuality = 85;
constexpr int qualityStep = 20;
constexpr int lowestQualityToLower = 30; // quality is lowered only while above this

// The image data URL of image, or nothing when it is empty or cannot be
// encoded.
std::optional<QString> dataURL(const QImage &image);

// The size an image of `size` is reduced to: never enlarged, the longer side
// at most maxSide, each side at least 1. Invalid for an empty size.
QSize targetSize(const QSize &size);

// image scaled to targetSize() onto an opaque white RGB canvas, so that
// transparent parts come out white. Pixels are taken at their natural size,
// whatever device pixel ratio the image carries. Null when image is empty.
QImage flattened(const QImage &image);

struct Jpeg {
    QByteArray bytes;
    int quality = 0;
};
// JPEG of canvas at quality 85, lowered by 20 while the bytes exceed
// byteLimit and the quality is above 30 (85, 65, 45, 25); the last encoding
// is kept even when still too big. Nothing when the encoder fails.
std::optional<Jpeg> encodeJpeg(const QImage &canvas, qsizetype byteLimit = maxJpegBytes);

// Decodes the picture that reader is set to, turned upright by its
// orientation tag. Where the decoder can shrink while it decodes without
// harm to the colours (JPEG, opaque PNG), the picture comes out already at
// targetSize(), so that a camera's full-size photo is never held in memory.
// Nothing when it is not a readable image.
std::optional<QImage> read(QImageReader &reader);

} // namespace ImageTools
