#include "core/ladder/LadderTexts.h"

#include <cmath>

using std::chrono::milliseconds;

namespace {

constexpr qint64 minuteMs = 60 * 1000;
constexpr qint64 hourMs = 60 * minuteMs;
constexpr qint64 dayMs = 24 * hourMs;

// One decimal, none when it is zero: "99.5", "100".
QString trimmed(double value)
{
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

QString counted(qint64 n, const char *unit)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(unit)).arg(n == 1 ? "" : "s");
}

// The unit of the age's wording: a minute, an hour or a day.
qint64 ageUnit(qint64 ageMs)
{
    return ageMs < hourMs ? minuteMs : ageMs < dayMs ? hourMs : dayMs;
}

} // namespace

namespace LadderTexts {

QString firstEvent(std::optional<double> seconds)
{
    if (!seconds)
        return notMeasured;
    return QString::number(*seconds, 'f', 1) + QStringLiteral(" s");
}

QString uptime(std::optional<double> percent)
{
    if (!percent)
        return unknown;
    return trimmed(*percent) + QLatin1Char('%');
}

QString context(std::optional<int> tokens)
{
    if (!tokens || *tokens <= 0)
        return unknown;
    const double base = *tokens % 1024 == 0 ? 1024.0 : 1000.0;
    const double thousands = *tokens / base;
    if (thousands < 1)
        return QString::number(*tokens);
    if (thousands < base - 0.5)
        return QString::number(std::lround(thousands)) + QLatin1Char('K');
    return trimmed(thousands / base) + QLatin1Char('M');
}

std::optional<QString> cooling(milliseconds left)
{
    if (left.count() <= 0)
        return std::nullopt;
    if (left.count() < minuteMs)
        return QStringLiteral("cooling down · less than a minute left");
    return QStringLiteral("cooling down · %1 min left").arg(left.count() / minuteMs);
}

QString measured(const std::optional<QDateTime> &at, const QDateTime &now)
{
    if (!at)
        return QStringLiteral("not measured yet");
    const qint64 age = at->msecsTo(now);
    if (age < minuteMs) // a time ahead of the clock included
        return QStringLiteral("measured just now");
    const qint64 unit = ageUnit(age);
    const char *name = unit == minuteMs ? "minute" : unit == hourMs ? "hour" : "day";
    return QStringLiteral("measured %1 ago").arg(counted(age / unit, name));
}

milliseconds untilCoolingChanges(milliseconds left)
{
    if (left.count() < minuteMs)
        return std::max(left, milliseconds(0));
    // "4 min left" holds down to exactly four minutes.
    return milliseconds(left.count() % minuteMs + 1);
}

std::optional<milliseconds> untilMeasuredChanges(const std::optional<QDateTime> &at, const QDateTime &now)
{
    if (!at)
        return std::nullopt;
    const qint64 age = at->msecsTo(now);
    if (age < 0)
        return milliseconds(-age + minuteMs);
    const qint64 unit = ageUnit(age);
    return milliseconds(unit - age % unit);
}

} // namespace LadderTexts
