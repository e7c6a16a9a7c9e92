#include "ranker/RankerRefresh.h"

#include "ranker/ModelRanker.h"

RankerRefresh::RankerRefresh(OpenRouterClient &client, const QString &key, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_key(key)
{
}

RankerRefresh::~RankerRefresh()
{
    abandon();
}

template <class Call> Call *RankerRefresh::track(Call *call)
{
    m_calls.append(QPointer<ServiceCall>(call));
    return call;
}

void RankerRefresh::start()
{
    ModelsCall *call = track(m_client.fetchModels(m_key));
    connect(call, &ModelsCall::finished, this, &RankerRefresh::onCatalogue);
}

void RankerRefresh::abandon()
{
    if (m_abandoned)
        return;
    m_abandoned = true;
    const QList<QPointer<ServiceCall>> calls = std::exchange(m_calls, {});
    for (const QPointer<ServiceCall> &call : calls) {
        if (call && !call->isFinished()) {
            call->disconnect(this);
            call->cancel();
        }
    }
}

void RankerRefresh::onCatalogue(const ModelsOutcome &outcome)
{
    if (!outcome.ok()) {
        Q_EMIT failed(outcome.error());
        return;
    }
    m_models = outcome.value();
    Q_EMIT catalogueArrived(m_models);
    // Whoever listens may have reset the ranker meanwhile.
    if (!m_abandoned)
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
    if (--m_pending == 0)
        probeBest();
}

void RankerRefresh::probeBest()
{
    const QList<ORModel> ranked = Ranking::byScore(m_pool, m_stats);
    const QList<ORModel> best = ranked.mid(0, Ranking::kProbed);
    for (const ORModel &model : ranked.mid(Ranking::kProbed, Ranking::kReserve))
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
    if (--m_pending == 0)
        conclude();
}

void RankerRefresh::conclude()
{
    if (std::optional<ORError> rejection = Ranking::firstRejection(m_failures)) {
        Q_EMIT failed(*rejection);
        return;
    }
    Q_EMIT measured(m_models, Ranking::plan(m_successes, m_failures, m_reserve, ModelRanker::routerID));
}
