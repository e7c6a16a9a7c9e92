#pragma once

#include "service/OpenRouterClient.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
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

public:
    static inline const QString routerID = QStringLiteral("openrouter/free");
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

    // Rebuilds the models and the ladder, from the cache when it is fresh and
    // force is false. done (optional) runs once on the main thread when the
    // refresh ends: with ORError::unauthorized when the service rejected the
    // key, else with nothing. A refresh that was reset ends quietly.
    using RefreshDone = std::function<void(const std::optional<ORError> &)>;
    void refresh(const QString &key, bool force, RefreshDone done = {});

    // The models to try, in order. Virtual so that tests can offer nothing.
    virtual QList<ORModel> candidates(const std::optional<QString> &pinned, bool needsImages,
                                      const QSet<QString> &excluding) const;
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

private:
    class Refresh;
    friend class Refresh;

    void setFreeModels(const QList<ORModel> &models);
    void setLadderIDs(const QStringList &ids);
    void setRefreshing(bool on);
    void setNote(const std::optional<QString> &note);

    OpenRouterClient &m_client;
    QString m_cachePath;
    QList<ORModel> m_freeModels;
    QStringList m_ladderIDs{routerID};
    bool m_isRefreshing = false;
    std::optional<QString> m_note;
    QHash<QString, QDateTime> m_cooling;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };
    Refresh *m_running = nullptr;
};
