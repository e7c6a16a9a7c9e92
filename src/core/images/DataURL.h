#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

// Data URLs of pictures, "data:<media type>;base64,<Base64>": the form in
// which a chat keeps, stores, sends and exports its pictures. Stateless; safe
// on any thread.
namespace DataURL {

inline const QString jpegType = QStringLiteral("image/jpeg");

struct Content {
    // The type the URL names when it begins "data:<type>;base64,"; empty
    // when what comes before the comma has any other form.
    QString mediaType;
    QByteArray bytes; // never empty

    bool operator==(const Content &) const = default;
};

// "data:<mediaType>;base64," and the Base64 of bytes.
QString encode(const QByteArray &bytes, const QString &mediaType = jpegType);

// What url carries after its first comma, in strict Base64: the standard
// alphabet and its padding only, without line breaks or characters beyond
// Latin-1. Nothing when there is no comma, the Base64 is not strict or it
// holds no bytes. Before the comma only the media type is read, so a
// picture under a header of another form still decodes.
std::optional<Content> decode(QStringView url);

// The bytes of a "data:image/jpeg;base64," URL, read as decode() reads
// them; nothing for a URL of any other type.
std::optional<QByteArray> jpeg(QStringView url);

} // namespace DataURL
