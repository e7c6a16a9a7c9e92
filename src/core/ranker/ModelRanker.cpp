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

    {
        const auto batch = m_changes.batch();
        m_changes.assign(m_isRefreshing, isRefreshingField, true);
        m_changes.assign(m_note, noteField, std::optional<QString>());
    }
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
    const auto batch = m_changes.batch();
    m_changes.assign(m_freeModels, freeModelsField, cache->models);
    m_changes.assign(m_ladderIDs, ladderIDsField, cache->ladder);
    m_changes.assign(
        m_figures, figuresField, LadderFigures{ cache->fetched, cache->probeSeconds, cache->uptimes });
    return true;
}

void ModelRanker::onCatalogueArrived(const QList<ORModel> &models)
{
    // The menu shows the new list while the old ladder stays in force.
    const auto batch = m_changes.batch();
    m_changes.assign(m_freeModels, freeModelsField, models);
}

void ModelRanker::onProgressed(const RefreshProgress &progress)
{
    const auto batch = m_changes.batch();
    m_changes.assign(m_progress, progressField, progress);
}

void ModelRanker::onRefreshFinished(const RefreshOutcome &outcome)
{
    // The request hears of the end once every field holds its new value
    // and the signals are out.
    const QPointer<RefreshRequest> request = std::exchange(m_request, nullptr);
    std::optional<ORError> rejection;
    {
        const auto batch = m_changes.batch();
        m_running = nullptr; // it deletes itself
        m_changes.assign(m_isRefreshing, isRefreshingField, false);
        m_changes.assign(m_progress, progressField, RefreshProgress());
        if (outcome.ok()) {
            const MeasuredModels &measured = outcome.value();
            const QDateTime now = m_now();
            RankerCache{ now, measured.models, measured.plan.ladder, measured.probeSeconds, measured.uptimes }
                .write(m_cachePath);
            m_changes.assign(m_note, noteField, measured.plan.note);
            m_changes.assign(m_ladderIDs, ladderIDsField, measured.plan.ladder);
            m_changes.assign(
                m_figures, figuresField, LadderFigures{ now, measured.probeSeconds, measured.uptimes });
        } else if (outcome.error().is(ORError::Kind::unauthorized)) {
            rejection = outcome.error();
        } else {
            m_changes.assign(m_note, noteField,
                std::optional<QString>(Ranking::catalogueFailedPrefix + outcome.error().message()));
        }
    }
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
    const auto batch = m_changes.batch();
    m_changes.assign(m_freeModels, freeModelsField, QList<ORModel>());
    m_changes.assign(m_ladderIDs, ladderIDsField, QStringList{ routerId });
    m_changes.assign(m_cooling, coolingField, QHash<QString, QDateTime>());
    m_changes.assign(m_note, noteField, std::optional<QString>());
    m_changes.assign(m_figures, figuresField, LadderFigures());
    m_changes.assign(m_isRefreshing, isRefreshingField, false);
    m_changes.assign(m_progress, progressField, RefreshProgress());
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
    const auto batch = m_changes.batch();
    if (m_cooling.value(id) != until)
        m_changes.mark(coolingField);
    m_cooling.insert(id, until);
}

bool ModelRanker::isCooling(const QString &id) const
{
    const auto found = m_cooling.constFind(id);
    return found != m_cooling.constEnd() && *found > m_now();
}
