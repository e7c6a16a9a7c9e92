#include "core/ranker/RankerRefresh.h"

#include "core/ranker/ModelRanker.h"
#include "core/ranker/RankerLog.h"

#include <algorithm>

RankerRefresh::RankerRefresh(OpenRouterClient &client, const QString &key, QObject *parent)
    : Operation(parent)
    , m_client(client)
    , m_key(key)
{
}

RankerRefresh::~RankerRefresh()
{
    cancelCalls();
}

template <class Call> Call *RankerRefresh::track(Call *call)
{
    m_calls.append(QPointer<ServiceCall>(call));
    return call;
}

void RankerRefresh::start()
{
    m_clock.start();
    ModelsCall *call = track(m_client.fetchModels(m_key));
    connect(call, &ModelsCall::finished, this, &RankerRefresh::onCatalogue);
}

void RankerRefresh::stopWork()
{
    qCInfo(lcRanker) << "refresh cancelled after" << m_clock.elapsed() << "ms";
    cancelCalls();
}

void RankerRefresh::cancelCalls()
{
    const QList<QPointer<ServiceCall>> calls = std::exchange(m_calls, {});
    for (const QPointer<ServiceCall> &call : calls) {
        if (call)
            call->cancel();
    }
}

void RankerRefresh::onCatalogue(const ModelsOutcome &outcome)
{
    if (!outcome.ok()) {
        finish(outcome.error());
        return;
    }
    m_models = outcome.value();
    qCInfo(lcRanker) << "catalogue of" << m_models.size() << "free models after" << m_clock.elapsed() << "ms";
    Q_EMIT catalogueArrived(m_models);
    const int pooled = int(std::min<qsizetype>(m_models.size(), Ranking::poolSize));
    m_progress.total = 1 + pooled + std::min(pooled, Ranking::probedCount);
    // Whoever listens may have cancelled the refresh meanwhile.
    if (canDeliver() && stepDone())
        fetchStatistics();
}

void RankerRefresh::fetchStatistics()
{
    m_pool = Ranking::pool(m_models);
    m_pending = int(m_pool.size());
    if (m_pending == 0) {
        probeBest();
        return;
    }
    for (const ORModel &model : std::as_const(m_pool)) {
        StatsCall *call = track(m_client.fetchStats(m_key, model.id));
        connect(call, &StatsCall::finished, this,
            [this, id = model.id](const std::optional<EndpointStats> &stats) { onStats(id, stats); });
    }
}

void RankerRefresh::onStats(const QString &id, const std::optional<EndpointStats> &stats)
{
    if (stats)
        m_stats.insert(id, *stats);
    --m_pending;
    if (stepDone() && m_pending == 0)
        probeBest();
}

void RankerRefresh::probeBest()
{
    const QList<ORModel> ranked = Ranking::byScore(m_pool, m_stats);
    const QList<ORModel> best = ranked.mid(0, Ranking::probedCount);
    for (const ORModel &model : ranked.mid(Ranking::probedCount, Ranking::reserveCount))
        m_reserve.append(model.id);
    m_pending = int(best.size());
    if (m_pending == 0) {
        conclude();
        return;
    }
    for (const ORModel &model : best) {
        ProbeCall *call = track(m_client.probe(m_key, model.id));
        connect(call, &ProbeCall::finished, this,
            [this, id = model.id](const ProbeOutcome &outcome) { onProbe(id, outcome); });
    }
}

void RankerRefresh::onProbe(const QString &id, const ProbeOutcome &outcome)
{
    if (outcome.ok())
        m_successes.append({ id, outcome.value() });
    else
        m_failures.append(outcome.error());
    // The account's minute was full: that says nothing about the model.
    if (!outcome.ok() && outcome.error().perMinute())
        m_unmeasured.append(id);
    --m_pending;
    if (stepDone() && m_pending == 0)
        conclude();
}

bool RankerRefresh::stepDone()
{
    ++m_progress.done;
    Q_EMIT progressed(m_progress);
    return canDeliver();
}

void RankerRefresh::conclude()
{
    if (std::optional<ORError> rejection = Ranking::firstRejection(m_failures)) {
        finish(*rejection);
        return;
    }
    MeasuredModels measured{ m_models,
        Ranking::plan(m_successes, m_failures, m_reserve, ModelRanker::routerId, m_unmeasured), {}, {} };
    for (const Ranking::ProbeSuccess &success : std::as_const(m_successes))
        measured.probeSeconds.insert(success.id, success.seconds);
    for (auto it = m_stats.cbegin(); it != m_stats.cend(); ++it) {
        if (it->uptime)
            measured.uptimes.insert(it.key(), *it->uptime);
    }
    finish(measured);
}

void RankerRefresh::finish(const RefreshOutcome &outcome)
{
    if (outcome.ok()) {
        qCInfo(lcRanker) << "refresh done after" << m_clock.elapsed() << "ms:" << m_successes.size() << "of"
                         << (m_successes.size() + m_failures.size()) << "probes answered, ladder"
                         << outcome.value().plan.ladder;
    } else {
        qCWarning(lcRanker) << "refresh failed after" << m_clock.elapsed() << "ms:" << outcome.error().kind();
    }
    deliver([this, &outcome] { Q_EMIT finished(outcome); });
}
