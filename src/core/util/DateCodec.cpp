#include "core/util/DateCodec.h"

#include <cmath>

namespace DateCodec {

double toReferenceSeconds(const QDateTime &when)
{
    return double(when.toMSecsSinceEpoch()) / 1000.0 - referenceOffset;
}

QDateTime fromReferenceSeconds(double seconds)
{
    // Beyond about 285,000 years either way the conversion would overflow.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9.0e12)
        return {};
    const double msecs = std::round((seconds + referenceOffset) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(qint64(msecs), Qt::UTC);
}

} // namespace DateCodec
