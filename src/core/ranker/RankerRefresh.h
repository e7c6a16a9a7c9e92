#pragma once

#include "core/ranker/LadderFigures.h"
#include "core/ranker/Ranking.h"
#include "core/service/OpenRouterClient.h"
#include "core/util/Operation.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>

// What a refresh measured: the whole catalogue and the ladder made of it.
struct MeasuredModels {
    QList<ORModel> models;
    Ranking::LadderPlan plan;
    QHash<QString, double> probeSeconds; // of the probes that answered
    QHash<QString, double> uptimes; // of the pool models that published one
};
// The measurement, or why there is none: the catalogue failed, or a probe
// found the key rejected.
using RefreshOutcome = Outcome<MeasuredModels, ORError>;

// One network refresh, an Operation: the catalogue, then the statistics of
// the pool all at once, then the probes of the best four all at once. It
// owns its calls in flight and never touches the ranker's state. cancel()
// cancels the calls.
class RankerRefresh : public Operation
{
    Q_OBJECT
public:
    RankerRefresh(OpenRouterClient &client, const QString &key, QObject *parent = nullptr);
    ~RankerRefresh() override;

    void start();

Q_SIGNALS:
    // Progress: the free models, before anything is measured.
    void catalogueArrived(const QList<ORModel> &models);
    void progressed(const RefreshProgress &progress);
    void finished(const RefreshOutcome &outcome);

protected:
    void stopWork() override;

private:
    void onCatalogue(const ModelsOutcome &outcome);
    void fetchStatistics();
    void onStats(const QString &id, const std::optional<EndpointStats> &stats);
    void probeBest();
    void onProbe(const QString &id, const ProbeOutcome &outcome);
    // Counts one step done; false when a listener cancelled the refresh.
    bool stepDone();
    void conclude();
    void finish(const RefreshOutcome &outcome);
    template <class Call> Call *track(Call *call);
    void cancelCalls();

    OpenRouterClient &m_client;
    QString m_key;
    QList<QPointer<ServiceCall>> m_calls;
    QElapsedTimer m_clock;

    QList<ORModel> m_models;
    QList<ORModel> m_pool;
    QHash<QString, EndpointStats> m_stats;
    QStringList m_reserve;
    QList<Ranking::ProbeSuccess> m_successes;
    QList<ORError> m_failures;
    QStringList m_unmeasured;
    int m_pending = 0;
    RefreshProgress m_progress;
};
