#include "core/ranker/Ranking.h"

#include <algorithm>

namespace Ranking {

double score(const std::optional<EndpointStats> &stats)
{
    const double latency = stats && stats->latencyMs ? *stats->latencyMs : 3000.0;
    const double availability = stats && stats->uptime ? std::max(*stats->uptime / 100.0, 0.05) : 0.9;
    return latency / (availability * availability * availability);
}

QList<ORModel> pool(const QList<ORModel> &models)
{
    QList<ORModel> sorted = models;
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const ORModel &a, const ORModel &b) { return a.contextLength > b.contextLength; });
    if (sorted.size() > poolSize)
        sorted.resize(poolSize);
    return sorted;
}

QList<ORModel> byScore(const QList<ORModel> &pool, const QHash<QString, EndpointStats> &stats)
{
    auto scoreOf = [&stats](const ORModel &model) {
        const auto found = stats.constFind(model.id);
        return score(found == stats.constEnd() ? std::nullopt : std::optional<EndpointStats>(*found));
    };
    QList<std::pair<double, ORModel>> scored;
    scored.reserve(pool.size());
    for (const ORModel &model : pool)
        scored.append({ scoreOf(model), model });
    std::stable_sort(
        scored.begin(), scored.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<ORModel> sorted;
    sorted.reserve(scored.size());
    for (const auto &entry : scored)
        sorted.append(entry.second);
    return sorted;
}

LadderPlan plan(const QList<ProbeSuccess> &successes, const QList<ORError> &failures,
    const QStringList &reserve, const QString &routerId, const QStringList &unmeasured)
{
    LadderPlan result;
    const bool excludedByPrivacy = std::any_of(failures.cbegin(), failures.cend(),
        [](const ORError &failure) { return failure.is(ORError::Kind::privacyExcluded); });
    if (successes.isEmpty() && unmeasured.isEmpty()) {
        const bool daily = !failures.isEmpty() && failures.first().daily();
        result.note = excludedByPrivacy ? privacyNote : daily ? dailyLimitNote : untestedNote;
    } else {
        QList<ProbeSuccess> fastest = successes;
        std::stable_sort(fastest.begin(), fastest.end(),
            [](const ProbeSuccess &a, const ProbeSuccess &b) { return a.seconds < b.seconds; });
        for (const ProbeSuccess &success : fastest)
            result.ladder.append(success.id);
        result.ladder.append(unmeasured);
        result.ladder.append(reserve);
    }
    result.ladder.append(routerId);
    return result;
}

std::optional<ORError> firstRejection(const QList<ORError> &failures)
{
    for (const ORError &failure : failures) {
        if (failure.is(ORError::Kind::unauthorized))
            return failure;
    }
    return std::nullopt;
}

} // namespace Ranking
