#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>
#include <optional>

// The wording of the model ladder's figures and times, short and plain.
namespace LadderTexts {

inline const QString notMeasured = QStringLiteral("not measured");
inline const QString unknown = QStringLiteral("unknown");

// "0.8 s", or notMeasured.
QString firstEvent(std::optional<double> seconds);
// "99.5%", "100%", or unknown.
QString uptime(std::optional<double> percent);
// "128K", "32K", "1M": binary thousands when the length is a multiple of
// 1024, decimal ones otherwise, as models are announced; or unknown.
QString context(std::optional<int> tokens);
// "cooling down · 4 min left" (whole minutes left), "cooling down · less
// than a minute left"; none once the time is up.
std::optional<QString> cooling(std::chrono::milliseconds left);
// "measured just now", "measured 6 minutes ago", "measured 2 hours ago",
// "measured 3 days ago"; "not measured yet" without a time.
QString measured(const std::optional<QDateTime> &at, const QDateTime &now);

// How long until cooling(left) reads differently.
std::chrono::milliseconds untilCoolingChanges(std::chrono::milliseconds left);
// How long until measured(at, now) reads differently; none while it never will.
std::optional<std::chrono::milliseconds> untilMeasuredChanges(
    const std::optional<QDateTime> &at, const QDateTime &now);

} // namespace LadderTexts
