#pragma once

#include "ranker/Ranking.h"
#include "service/OpenRouterClient.h"

#include <QHash>
#include <QObject>
#include <QPointer>

// One network refresh: the catalogue, then the statistics of the pool all at
// once, then the probes of the best four all at once. It owns its calls in
// flight and reports through its signals; it never touches the ranker's state.
// After abandon() its calls are cancelled and it reports nothing more.
class RankerRefresh : public QObject
{
    Q_OBJECT
public:
    RankerRefresh(OpenRouterClient &client, const QString &key, QObject *parent = nullptr);
    ~RankerRefresh() override;

    void start();
    void abandon();

Q_SIGNALS:
    // The free models, before anything is measured.
    void catalogueArrived(const QList<ORModel> &models);
    // The catalogue failed, or a probe found the key rejected.
    void failed(const ORError &error);
    // Every probe has answered; models is the whole catalogue list.
    void measured(const QList<ORModel> &models, const Ranking::LadderPlan &plan);

private:
    void onCatalogue(const ModelsOutcome &outcome);
    void fetchStatistics();
    void onStats(const QString &id, const std::optional<EndpointStats> &stats);
    void probeBest();
    void onProbe(const QString &id, const ProbeOutcome &outcome);
    void conclude();
    template <class Call> Call *track(Call *call);

    OpenRouterClient &m_client;
    QString m_key;
    bool m_abandoned = false;
    QList<QPointer<ServiceCall>> m_calls;

    QList<ORModel> m_models;
    QList<ORModel> m_pool;
    QHash<QString, EndpointStats> m_stats;
    QStringList m_reserve;
    QList<Ranking::ProbeSuccess> m_successes;
    QList<ORError> m_failures;
    int m_pending = 0;
};
