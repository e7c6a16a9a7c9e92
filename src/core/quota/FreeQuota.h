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
// bought more; every message, fallback attempt and probe spends one, from
// Tolvi, other apps and the website alike. The service's own numbers, from
// /key or a daily-limit answer, whichever came last, are the figure; Tolvi's
// requests since then are taken off it. Without them, Tolvi counts its own
// requests of the day against the limit the tier implies (a free-tier
// account's is 50; any other's stays unknown). Both live in quota.json, so
// they outlive a restart. The figure is the service's policy, shown and
// never enforced. Main thread only.
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
    // What /key said just now.
    void noteKeyInfo(const KeyInfo &info);
    // Reads /key for the account's tier and the service's numbers of the
    // day, one read at a time: asked while a read with the same key runs,
    // exactly one more follows when it ends (another key's read is dropped
    // for this one). A failure leaves what was known.
    void checkKey(OpenRouterClient &client, const QString &key);
    bool isCheckingKey() const { return !m_keyCheck.isNull(); }
    // Sign-out: the file goes, a read on its way is dropped, and the next
    // account starts from nothing.
    void forget();

    // How many are left, when the limit is known.
    std::optional<int> left() const;
    // The requests left today as the service last stated them (/key or a
    // daily-limit answer), before Tolvi's own requests since: present when
    // the figure comes from the service, nothing when it is Tolvi's count.
    std::optional<int> serviceRemaining() const;
    // "38 of 50 free requests left today" (the service's numbers), "About 37
    // of 50 free requests left today" (less Tolvi's requests since, or by
    // Tolvi's count alone), "12 free requests used today" (limit unknown);
    // nothing while nothing is known.
    std::optional<QString> summary() const;
    // The input bar's line: "Free requests reset at 01:00." when none are
    // left, "Only 4 free requests left today." when few are; else nothing.
    std::optional<QString> warning() const { return warningIn(QLocale(), QTimeZone::systemTimeZone()); }
    std::optional<QString> warningIn(const QLocale &locale, const QTimeZone &zone) const;

Q_SIGNALS:
    void changed();

private:
    // When a /key read was asked, and Tolvi's count of the day by then.
    struct Asked {
        QDateTime at;
        int count = 0;
    };

    Asked askedNow() const;
    void takeKeyInfo(const KeyInfo &info, const Asked &asked);
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
    QString m_checkedKey; // the running read's
    bool m_checkAgain = false;
    QTimer m_dayEnd;
};
