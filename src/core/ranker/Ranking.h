#pragma once

#include "core/service/ServiceTypes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The pure steps of a refresh: which models to measure, how their published
// statistics score, and how probe answers become a ladder.
namespace Ranking {

constexpr int poolSize = 12; // models whose statistics are read
constexpr int probedCount = 4; // best-scoring models that are probed
constexpr int reserveCount = 3; // next best, kept unprobed behind the probed ones

inline const QString dailyLimitNote
    = QStringLiteral("Daily free limit reached. Using the free router until it resets.");
inline const QString untestedNote
    = QStringLiteral("Couldn't test the free models just now. Using the free router.");
inline const QString catalogueFailedPrefix = QStringLiteral("Couldn't update the model list. ");
inline const QString privacyNote
    = QStringLiteral("Your OpenRouter privacy settings exclude the free models.");

// Smaller is better: latency (3000 ms when unknown) divided by the cube of
// the availability (uptime/100, at least 0.05; 0.9 when unknown), so that a
// reliable model beats a slightly faster flaky one.
double score(const std::optional<EndpointStats> &stats);

// The largest contexts first (stable), at most poolSize of them.
QList<ORModel> pool(const QList<ORModel> &models);

// The pool sorted by score, best first (stable).
QList<ORModel> byScore(const QList<ORModel> &pool, const QHash<QString, EndpointStats> &stats);

struct ProbeSuccess {
    QString id;
    double seconds = 0;
};

struct LadderPlan {
    QStringList ladder; // always ends with the router
    std::optional<QString> note; // why only the router is left
};

// successes and failures in order of arrival; reserve in pool order.
// unmeasured: probed models that met the account's per-minute limit, which
// says nothing about them: they stay on the ladder, after the measured ones.
LadderPlan plan(const QList<ProbeSuccess> &successes, const QList<ORError> &failures,
    const QStringList &reserve, const QString &routerId, const QStringList &unmeasured = {});

// The first unauthorized failure, if any: a rejected key ends the refresh.
std::optional<ORError> firstRejection(const QList<ORError> &failures);

} // namespace Ranking
