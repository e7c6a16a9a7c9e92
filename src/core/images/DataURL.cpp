#include "core/images/DataURL.h"

namespace DataURL {

namespace {

const QLatin1String scheme("data:");
const QLatin1String base64Tag(";base64");

QString mediaTypeOf(QStringView header)
{
    if (!header.startsWith(scheme) || !header.endsWith(base64Tag))
        return {};
    return header.sliced(scheme.size(), header.size() - scheme.size() - base64Tag.size()).toString();
}

} // namespace

QString encode(const QByteArray &bytes, const QString &mediaType)
{
    return scheme + mediaType + base64Tag + QLatin1Char(',') + QString::fromLatin1(bytes.toBase64());
}

std::optional<Content> decode(QStringView url)
{
    const qsizetype comma = url.indexOf(QLatin1Char(','));
    if (comma < 0)
        return std::nullopt;
    // Characters beyond Latin-1 become '?', which the strict decoder refuses.
    auto decoded = QByteArray::fromBase64Encoding(
        url.sliced(comma + 1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return Content{ mediaTypeOf(url.first(comma)), std::move(decoded.decoded) };
}

std::optional<QByteArray> jpeg(QStringView url)
{
    std::optional<Content> content = decode(url);
    if (!content || content->mediaType != jpegType)
        return std::nullopt;
    return std::move(content->bytes);
}

} // namespace DataURL
