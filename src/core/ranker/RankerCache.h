#pragma once

#include "core/service/ServiceTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The outcome of the last network refresh, kept in "models-cache.json" so
// that a restart within fifteen minutes needs no network work. Private to the
// ranker. Every file failure is silent: a missing or corrupt file reads as no
// cache, a failed write or delete leaves things as they were.
struct RankerCache {
    RankerCache(QDateTime fetched, QList<ORModel> models, QStringList ladder,
        QHash<QString, double> probeSeconds = {}, QHash<QString, double> uptimes = {})
        : fetched(std::move(fetched))
        , models(std::move(models))
        , ladder(std::move(ladder))
        , probeSeconds(std::move(probeSeconds))
        , uptimes(std::move(uptimes))
    {
    }

    QDateTime fetched; // when the refresh finished measuring
    QList<ORModel> models; // the whole free list of the catalogue
    QStringList ladder; // identifiers, best first, the router last
    // What the refresh measured, shown beside the ladder. A cache written
    // before these were kept has neither, and still serves.
    QHash<QString, double> probeSeconds; // time to the probe's first event
    QHash<QString, double> uptimes; // best published uptime, percent

    static constexpr qint64 freshForMs = 900 * 1000;

    // Young enough (a "fetched" in the future counts) and with a ladder.
    bool isFresh(const QDateTime &now) const;

    // {"fetched": seconds since 2001, "models": [...], "ladder": [...],
    // "probeSeconds": {id: s}, "uptimes": {id: percent}}; the first three
    // required, a wrong type among them rejects; the two maps optional, and
    // whatever in them is not a number is left out. Unknown members ignored.
    QByteArray encode() const;
    static std::optional<RankerCache> decode(const QByteArray &json);

    static std::optional<RankerCache> read(const QString &path);
    void write(const QString &path) const; // atomic replace
    static void remove(const QString &path);

    static QString defaultPath(); // AppPaths::dir() + "/models-cache.json"
};
