#include "core/auth/CallbackRequest.h"

#include <QStringDecoder>
#include <QUrl>
#include <QUrlQuery>

namespace CallbackRequest {

namespace {

// The bytes before the first CRLF (everything, where a bare LF ends it).
QByteArray requestLine(const QByteArray &head)
{
    const qsizetype end = head.indexOf("\r\n");
    return end < 0 ? head : head.left(end);
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

Query queryItems(const QUrl &url)
{
    Query query;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items)
        query.insert(name, value);
    return query;
}

} // namespace

bool isComplete(const QByteArray &head)
{
    return head.contains('\n') || head.size() >= maxHeadBytes;
}

std::optional<Query> parse(const QByteArray &head)
{
    // A request line that has not ended within the limit is never read as a
    // callback: its cut-off target would carry a mangled code.
    const QByteArray judged = head.left(maxHeadBytes);
    if (!judged.contains('\n'))
        return std::nullopt;
    const std::optional<QString> line = decodeUtf8(requestLine(judged));
    if (!line)
        return std::nullopt;
    const QStringList pieces = line->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    const QUrl url(QStringLiteral("http://localhost") + pieces.at(1), QUrl::StrictMode);
    if (!url.isValid() || url.path(QUrl::FullyDecoded) != QLatin1String("/callback"))
        return std::nullopt;
    return queryItems(url);
}

bool carriesCode(const Query &query)
{
    return !query.contains(QStringLiteral("error")) && !query.value(QStringLiteral("code")).isEmpty();
}

} // namespace CallbackRequest
