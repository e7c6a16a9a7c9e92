#pragma once

#include "core/ranker/LadderFigures.h"
#include "core/ranker/RankerRefresh.h"
#include "core/ranker/RefreshRequest.h"
#include "core/service/OpenRouterClient.h"
#include "core/util/ChangeSignals.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

// Turns the service's catalogue into the ladder of free models (fastest
// first, the free router last), answers which models to try for a request,
// and cools failing models. Main thread only.
class ModelRanker : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<ORModel> freeModels READ freeModels NOTIFY freeModelsChanged)
    Q_PROPERTY(QStringList ladderIDs READ ladderIDs NOTIFY ladderIDsChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(std::optional<QString> note READ note NOTIFY noteChanged)
    Q_PROPERTY(QHash<QString, QDateTime> cooling READ cooling NOTIFY coolingChanged)
    Q_PROPERTY(LadderFigures figures READ figures NOTIFY figuresChanged)
    Q_PROPERTY(RefreshProgress progress READ progress NOTIFY progressChanged)

public:
    static inline const QString routerId = QStringLiteral("openrouter/free");
    static ORModel routerModel(); // "Free Models Router", 32000, images

    // cachePath defaults to AppPaths::dir() + "/models-cache.json".
    explicit ModelRanker(OpenRouterClient &client, QObject *parent = nullptr);
    ModelRanker(OpenRouterClient &client, const QString &cachePath, QObject *parent = nullptr);
    ~ModelRanker() override;

    const QList<ORModel> &freeModels() const { return m_freeModels; }
    const QStringList &ladderIDs() const { return m_ladderIDs; }
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<QString> &note() const { return m_note; }
    const QHash<QString, QDateTime> &cooling() const { return m_cooling; }
    // What the measurement behind the ladder found, from the refresh or the
    // cache that gave the ladder.
    const LadderFigures &figures() const { return m_figures; }
    // Of the running refresh; back to nothing when it ends.
    const RefreshProgress &progress() const { return m_progress; }

    // Rebuilds the models and the ladder, from the cache when it is fresh and
    // force is false. The request finishes when the refresh ends (see
    // RefreshRequest). When a refresh is already running, or the fresh cache
    // is taken, it finishes with nothing. A refresh ended by reset() changes
    // nothing and its request finishes with nothing. Destroying the ranker
    // silences the request.
    RefreshRequest *refresh(const QString &key, bool force);

    // The models to try, in order. Virtual so that tests can offer nothing.
    virtual QList<ORModel> candidates(
        const std::optional<QString> &pinned, bool needsImages, const QSet<QString> &excluding) const;
    std::optional<ORModel> firstVisionModel() const;
    std::optional<ORModel> model(const QString &id) const; // model(withID:)
    void cool(const QString &id, std::optional<double> retryAfter);
    bool isCooling(const QString &id) const;
    // Forgets everything learned and deletes the cache; a running refresh
    // loses its right to change anything.
    void reset();

    QString cachePath() const { return m_cachePath; }
    // Test seam: the clock used for cooling and cache ages.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

Q_SIGNALS:
    void freeModelsChanged();
    void ladderIDsChanged();
    void isRefreshingChanged();
    void noteChanged();
    void coolingChanged();
    void figuresChanged();
    void progressChanged();

private:
    // The published fields, numbered by their signal's place in m_changes:
    // its signals go out together once every field holds its final value, so
    // a listener never sees a half-applied result and may call back into the
    // ranker safely.
    enum Field : int {
        freeModelsField,
        ladderIDsField,
        noteField,
        coolingField,
        figuresField,
        progressField,
        isRefreshingField,
    };

    bool adoptFreshCache();
    void onCatalogueArrived(const QList<ORModel> &models);
    void onProgressed(const RefreshProgress &progress);
    void onRefreshFinished(const RefreshOutcome &outcome);
    void stopRefresh();

    OpenRouterClient &m_client;
    QString m_cachePath;
    QList<ORModel> m_freeModels;
    QStringList m_ladderIDs{ routerId };
    bool m_isRefreshing = false;
    std::optional<QString> m_note;
    QHash<QString, QDateTime> m_cooling;
    LadderFigures m_figures;
    RefreshProgress m_progress;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };
    QPointer<RankerRefresh> m_running;
    QPointer<RefreshRequest> m_request; // of the running refresh
    ChangeSignals<ModelRanker> m_changes{ *this,
        { &ModelRanker::freeModelsChanged, &ModelRanker::ladderIDsChanged, &ModelRanker::noteChanged,
            &ModelRanker::coolingChanged, &ModelRanker::figuresChanged, &ModelRanker::progressChanged,
            &ModelRanker::isRefreshingChanged } };
};
