#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <optional>

// Strict readings of numbers that arrive as text or JSON from the service.
namespace NumberText {

// The whole text as a decimal floating-point number: an optional sign,
// digits with an optional point, an optional exponent. No blanks, no hex, no
// "inf" or "nan". The result may still be infinite when the exponent is huge.
std::optional<double> parseDecimal(QByteArrayView text);

// A JSON number that is exactly an int (integral and in range), else nothing.
std::optional<int> exactInt(const QJsonValue &value);

// True when value is finite and truncates to a 64-bit integer without
// overflow.
bool fitsInt64(double value);

} // namespace NumberText
