#pragma once

#include "core/quota/QuotaFile.h"
#include "core/service/RateLimit.h"
#include "core/service/ServiceTypes.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <QTimer>
#include <functional>
#include <optional>

class KeyCheckCall;
class OpenRouterClient;

// The account's free requests left today. The service allows 50 a UTC day
// to an account that bought fewer than 10 credits and 1000 to one that
// bought more; every message, fallback attempt and probe spends one. This
// counts Tolvi's own requests of the day, learns the limit from /key (a
// free-tier account's is 50; any other's stays unknown) and takes the
// service's own numbers from a daily-limit answer over the count. The count
// lives in quota.json, so it outlives a restart. Main thread only.
class FreeQuota : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> summary READ summary NOTIFY changed)
    Q_PROPERTY(std::optional<QString> warning READ warning NOTIFY changed)

public:
    using Clock = std::function<QDateTime()>;

    static constexpr int freeTierLimit = 50;
    // From this many left down, the input bar says so.
    static constexpr int fewLeft = 5;

    // Reads path, "quota.json" beside the model cache (a missing or
    // malformed file is nothing counted).
    explicit FreeQuota(const QString &path, Clock now = {}, QObject *parent = nullptr);
    ~FreeQuota() override;

    QString path() const { return m_path; }

    // Counts the client's requests and takes the numbers of its daily-limit
    // answers, for as long as both live.
    void listenTo(OpenRouterClient &client);

    // One request to a free model went out.
    void noteRequest();
    // The service refused one for the daily limit, stating these numbers.
    void noteDailyLimit(const RateLimit &stated);
    void noteKeyInfo(const KeyInfo &info);
    // Reads /key for the account's tier. A failure leaves what was known.
    void checkKey(OpenRouterClient &client, const QString &key);
    bool isCheckingKey() const { return !m_keyCheck.isNull(); }
    // Sign-out: the file goes, and the next account starts from nothing.
    void forget();

    // How many are left, when the limit is known.
    std::optional<int> left() const;
    // "About 38 of 50 free requests left today" (by Tolvi's count), "38 of 50
    // free requests left today" (the service's numbers), "12 free requests
    // used today" (limit unknown); nothing while nothing is known.
    std::optional<QString> summary() const;
    // The input bar's line: "Free requests reset at 01:00." when none are
    // left, "Only 4 free requests left today." when few are; else nothing.
    std::optional<QString> warning() const { return warningIn(QLocale(), QTimeZone::systemTimeZone()); }
    std::optional<QString> warningIn(const QLocale &locale, const QTimeZone &zone) const;

Q_SIGNALS:
    void changed();

private:
    // The record as it stands now: a new UTC day starts with nothing
    // counted and no stated numbers. The one place of the per-day rule.
    QuotaFile current() const;
    std::optional<int> limitOf(const QuotaFile &day) const;
    void update(const std::function<void(QuotaFile &)> &change);
    void armDayEnd();

    QString m_path;
    Clock m_now;
    QuotaFile m_record;
    QPointer<KeyCheckCall> m_keyCheck;
    QTimer m_dayEnd;
};
