#include "core/service/NumberText.h"

#include <QByteArray>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace NumberText {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

qsizetype skipDigits(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// True when the whole text is one decimal number.
bool isWholeDecimal(QByteArrayView text)
{
    qsizetype at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    const qsizetype intStart = at;
    at = skipDigits(text, at);
    qsizetype mantissaDigits = at - intStart;
    if (at < text.size() && text[at] == '.') {
        const qsizetype fracStart = ++at;
        at = skipDigits(text, at);
        mantissaDigits += at - fracStart;
    }
    if (mantissaDigits == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        const qsizetype expStart = at;
        at = skipDigits(text, at);
        if (at == expStart)
            return false;
    }
    return at == text.size();
}

} // namespace

std::optional<double> parseDecimal(QByteArrayView text)
{
    if (!isWholeDecimal(text))
        return std::nullopt;
    // Qt's conversions turn an overflow into 0, which would make "1e400" a
    // zero price. strtod gives the infinity (and an underflow's nearest
    // value); the caller decides what an out-of-range number means. The C
    // locale keeps the point a point whatever the user's locale is.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const QByteArray terminated = text.toByteArray();
    return strtod_l(terminated.constData(), nullptr, cLocale);
}

std::optional<int> exactInt(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return std::nullopt;
    if (d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

bool fitsInt64(double value)
{
    // 2^63 is exactly representable; every double below it (and at or above
    // -2^63) truncates into the 64-bit range.
    constexpr double limit = 9223372036854775808.0;
    return std::isfinite(value) && value < limit && value >= -limit;
}

} // namespace NumberText
