#pragma once

#include <QDateTime>

// Dates on disk are seconds since 2001-01-01T00:00:00Z as a JSON double
// (Unix seconds - 978307200); earlier dates are negative.
namespace DateCodec {

constexpr double referenceOffset = 978307200.0;

double toReferenceSeconds(const QDateTime &when);
// An invalid QDateTime when seconds is not finite or absurdly far away.
QDateTime fromReferenceSeconds(double seconds);

} // namespace DateCodec
