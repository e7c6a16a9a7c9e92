#pragma once

#include "core/service/ServiceTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The outcome of the last network refresh, kept in "models-cache.json" so
// that a restart within fifteen minutes needs no network work. Private to the
// ranker. Every file failure is silent: a missing or corrupt file reads as no
// cache, a failed write or delete leaves things as they were.
struct RankerCache {
    QDateTime fetched; // when the refresh finished measuring
    QList<ORModel> models; // the whole free list of the catalogue
    QStringList ladder; // identifiers, best first, the router last

    static constexpr qint64 freshForMs = 900 * 1000;

    // Young enough (a "fetched" in the future counts) and with a ladder.
    bool isFresh(const QDateTime &now) const;

    // {"fetched": seconds since 2001, "models": [...], "ladder": [...]};
    // all three required, unknown members ignored, a wrong type rejects.
    QByteArray encode() const;
    static std::optional<RankerCache> decode(const QByteArray &json);

    static std::optional<RankerCache> read(const QString &path);
    void write(const QString &path) const; // atomic replace
    static void remove(const QString &path);

    static QString defaultPath(); // AppPaths::dir() + "/models-cache.json"
};
