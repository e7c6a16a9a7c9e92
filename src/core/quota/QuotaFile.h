#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>

// Where the account's free requests of one UTC day stand, kept in
// "quota.json" beside the model cache so that a restart does not forget
// what the day has spent. Every file failure is silent: a missing or
// malformed file reads as nothing counted, a failed write or removal
// leaves things as they were.
struct QuotaFile {
    // The service's last word on the day: a /key answer or a daily-limit
    // answer, whichever came later, and how many of Tolvi's own requests had
    // gone out by then (for /key, when the read was asked).
    struct Stated {
        std::optional<int> limit;
        int remaining = 0;
        std::optional<qint64> resetMs; // epoch milliseconds
        int atCount = 0;
        std::optional<qint64> madeMs; // epoch milliseconds; older files lack it

        bool operator==(const Stated &) const = default;
    };

    QDate day; // UTC
    int count = 0; // Tolvi's own requests to free models that day
    std::optional<bool> freeTier; // what /key last said; not tied to a day
    std::optional<Stated> stated;

    bool operator==(const QuotaFile &) const = default;

    // {"day":"yyyy-MM-dd","count":n,"freeTier":bool,
    //  "stated":{"limit","remaining","reset","atCount","made"}};
    // "freeTier", "stated" and "limit", "reset" and "made" inside it may be
    // absent.
    // Any other shape, a wrong type or a negative number decodes as nothing.
    QByteArray encode() const;
    static std::optional<QuotaFile> decode(const QByteArray &json);

    static std::optional<QuotaFile> read(const QString &path);
    void write(const QString &path) const; // atomic replace
    static void remove(const QString &path);
};
