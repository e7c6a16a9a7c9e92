#include "core/util/TextUtil.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace TextUtil {

qsizetype graphemeCount(const QString &text)
{
    if (text.isEmpty())
        return 0;
    // Plain ASCII (the common case for streamed text) has one grapheme per
    // code unit except for CR LF, which is one cluster.
    bool simple = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80 || c == u'\r') {
            simple = false;
            break;
        }
    }
    if (simple)
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemeLeft(const QString &text, qsizetype n)
{
    if (n <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype taken = 0;
    qsizetype pos = 0;
    while (taken < n) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        pos = next;
        ++taken;
    }
    return text.left(pos);
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(bytes);
    Q_UNUSED(decoded);
    return !decoder.hasError();
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

QString plainToolTip(const QString &text)
{
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped()
        + QStringLiteral("</p>");
}

} // namespace TextUtil
