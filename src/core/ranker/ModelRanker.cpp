#include "core/ranker/ModelRanker.h"

#include "core/ranker/RankerCache.h"
#include "core/ranker/RankerLog.h"
#include "core/ranker/Ranking.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double minCoolSeconds = 600;
constexpr double maxCoolSeconds = 3600;
constexpr int visionExtras = 3;

template <class T> bool assign(T &field, const T &value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

double coolSeconds(std::optional<double> retryAfter)
{
    const double asked = retryAfter.value_or(0);
    if (std::isnan(asked))
        return minCoolSeconds;
    return std::clamp(asked, minCoolSeconds, maxCoolSeconds);
}

} // namespace

ORModel ModelRanker::routerModel()
{
    return ORModel{ routerId, QStringLiteral("Free Models Router"), 32000, true };
}

ModelRanker::ModelRanker(OpenRouterClient &client, QObject *parent)
    : ModelRanker(client, RankerCache::defaultPath(), parent)
{
}

ModelRanker::ModelRanker(OpenRouterClient &client, const QString &cachePath, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_cachePath(cachePath)
{
}

// The running refresh and the request are children: the refresh's destruction
// cancels its calls, the request's silences it.
ModelRanker::~ModelRanker() = default;

void ModelRanker::announce(const Changes &changes)
{
    if (changes.freeModels)
        Q_EMIT freeModelsChanged();
    if (changes.ladderIDs)
        Q_EMIT ladderIDsChanged();
    if (changes.note)
        Q_EMIT noteChanged();
    if (changes.cooling)
        Q_EMIT coolingChanged();
    if (changes.figures)
        Q_EMIT figuresChanged();
    if (changes.progress)
        Q_EMIT progressChanged();
    if (changes.isRefreshing)
        Q_EMIT isRefreshingChanged();
}

// ---- refresh ---------------------------------------------------------------

RefreshRequest *ModelRanker::refresh(const QString &key, bool force)
{
    auto *request = new RefreshRequest(this);
    if (m_isRefreshing || (!force && adoptFreshCache())) {
        request->finishLater();
        return request;
    }
    auto *task = new RankerRefresh(m_client, key, this);
    connect(task, &RankerRefresh::catalogueArrived, this, &ModelRanker::onCatalogueArrived);
    connect(task, &RankerRefresh::progressed, this, &ModelRanker::onProgressed);
    connect(task, &RankerRefresh::finished, this, &ModelRanker::onRefreshFinished);
    m_running = task;
    m_request = request;

    Changes changes;
    changes.isRefreshing = assign(m_isRefreshing, true);
    changes.note = assign(m_note, std::optional<QString>());
    announce(changes);
    if (m_running == task) // a listener may have reset us
        task->start();
    return request;
}

bool ModelRanker::adoptFreshCache()
{
    const std::optional<RankerCache> cache = RankerCache::read(m_cachePath);
    if (!cache || !cache->isFresh(m_now()))
        return false;
    qCInfo(lcRanker) << "the cached ladder is fresh; no refresh";
    Changes changes;
    changes.freeModels = assign(m_freeModels, cache->models);
    changes.ladderIDs = assign(m_ladderIDs, cache->ladder);
    changes.figures = assign(m_figures, LadderFigures{ cache->fetched, cache->probeSeconds, cache->uptimes });
    announce(changes);
    return true;
}

void ModelRanker::onCatalogueArrived(const QList<ORModel> &models)
{
    // The menu shows the new list while the old ladder stays in force.
    Changes changes;
    changes.freeModels = assign(m_freeModels, models);
    announce(changes);
}

void ModelRanker::onProgressed(const RefreshProgress &progress)
{
    Changes changes;
    changes.progress = assign(m_progress, progress);
    announce(changes);
}

void ModelRanker::onRefreshFinished(const RefreshOutcome &outcome)
{
    Changes changes;
    if (outcome.ok()) {
        const MeasuredModels &measured = outcome.value();
        const QDateTime now = m_now();
        RankerCache{ now, measured.models, measured.plan.ladder, measured.probeSeconds, measured.uptimes }
            .write(m_cachePath);
        changes.note = assign(m_note, measured.plan.note);
        changes.ladderIDs = assign(m_ladderIDs, measured.plan.ladder);
        changes.figures = assign(m_figures, LadderFigures{ now, measured.probeSeconds, measured.uptimes });
        endRefresh(changes, std::nullopt);
        return;
    }
    const ORError &error = outcome.error();
    if (error.is(ORError::Kind::unauthorized)) {
        endRefresh(changes, error);
        return;
    }
    changes.note = assign(m_note, std::optional<QString>(Ranking::catalogueFailedPrefix + error.message()));
    endRefresh(changes, std::nullopt);
}

void ModelRanker::endRefresh(Changes changes, const std::optional<ORError> &rejection)
{
    m_running = nullptr; // it deletes itself
    const QPointer<RefreshRequest> request = std::exchange(m_request, nullptr);
    changes.isRefreshing = assign(m_isRefreshing, false);
    changes.progress = assign(m_progress, RefreshProgress());
    announce(changes);
    if (request)
        request->finish(rejection);
}

void ModelRanker::stopRefresh()
{
    cancelOperation(m_running);
    if (const QPointer<RefreshRequest> request = std::exchange(m_request, nullptr))
        request->finishLater();
}

// ---- reset -------------------------------------------------------------------

void ModelRanker::reset()
{
    // A refresh measured with the signed-out key must not publish its ladder
    // or rewrite the cache deleted here.
    stopRefresh();
    RankerCache::remove(m_cachePath);
    Changes changes;
    changes.freeModels = assign(m_freeModels, QList<ORModel>());
    changes.ladderIDs = assign(m_ladderIDs, QStringList{ routerId });
    changes.cooling = assign(m_cooling, QHash<QString, QDateTime>());
    changes.note = assign(m_note, std::optional<QString>());
    changes.figures = assign(m_figures, LadderFigures());
    changes.isRefreshing = assign(m_isRefreshing, false);
    changes.progress = assign(m_progress, RefreshProgress());
    announce(changes);
}

// ---- choosing models -----------------------------------------------------------

QList<ORModel> ModelRanker::candidates(
    const std::optional<QString> &pinned, bool needsImages, const QSet<QString> &excluding) const
{
    QStringList ladder = m_ladderIDs;
    ladder.removeAll(routerId);
    if (needsImages) {
        QList<ORModel> seeing;
        for (const ORModel &model : m_freeModels) {
            if (model.supportsImages && !ladder.contains(model.id))
                seeing.append(model);
        }
        std::stable_sort(seeing.begin(), seeing.end(),
            [](const ORModel &a, const ORModel &b) { return a.contextLength > b.contextLength; });
        for (const ORModel &model : seeing.mid(0, visionExtras))
            ladder.append(model.id);
    }
    QStringList order;
    if (pinned)
        order.append(*pinned);
    order.append(ladder);
    order.append(routerId);

    QList<ORModel> ready;
    QList<ORModel> cooling;
    QSet<QString> seen;
    for (const QString &id : std::as_const(order)) {
        if (seen.contains(id))
            continue;
        seen.insert(id);
        if (excluding.contains(id))
            continue;
        const std::optional<ORModel> found = model(id);
        if (!found || (needsImages && !found->supportsImages))
            continue;
        (isCooling(id) ? cooling : ready).append(*found);
    }
    return ready + cooling;
}

std::optional<ORModel> ModelRanker::firstVisionModel() const
{
    const QList<ORModel> seeing = candidates(std::nullopt, true, {});
    if (seeing.isEmpty())
        return std::nullopt;
    return seeing.first();
}

std::optional<ORModel> ModelRanker::model(const QString &id) const
{
    if (id == routerId)
        return routerModel();
    for (const ORModel &model : m_freeModels) {
        if (model.id == id)
            return model;
    }
    return std::nullopt;
}

// ---- cooling -----------------------------------------------------------------

void ModelRanker::cool(const QString &id, std::optional<double> retryAfter)
{
    const QDateTime until = m_now().addMSecs(qint64(std::llround(coolSeconds(retryAfter) * 1000)));
    Changes changes;
    changes.cooling = m_cooling.value(id) != until;
    m_cooling.insert(id, until);
    announce(changes);
}

bool ModelRanker::isCooling(const QString &id) const
{
    const auto found = m_cooling.constFind(id);
    return found != m_cooling.constEnd() && *found > m_now();
}
