#include "core/auth/PKCE.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <cstdint>

namespace PKCE {

static_assert(alphabetSize == 66);

namespace {

// The largest multiple of the alphabet size that fits in 32 bits. Draws at
// or above it are thrown away, so that the remainder is uniform.
constexpr std::uint64_t acceptedRange = (std::uint64_t(1) << 32) / alphabetSize * alphabetSize;

int uniformIndex(QRandomGenerator &random)
{
    for (;;) {
        const std::uint64_t draw = random.generate();
        if (draw < acceptedRange)
            return int(draw % alphabetSize);
    }
}

} // namespace

QString randomString(int length)
{
    QString text;
    if (length <= 0)
        return text;
    text.reserve(length);
    QRandomGenerator &random = *QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        text.append(QLatin1Char(alphabet[uniformIndex(random)]));
    return text;
}

QString challenge(const QString &verifier)
{
    const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace PKCE
