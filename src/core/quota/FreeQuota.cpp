#include "core/quota/FreeQuota.h"

#include "core/quota/QuotaLog.h"
#include "core/service/OpenRouterClient.h"
#include "core/service/ServiceCall.h"

#include <algorithm>

namespace {

QString requests(int n)
{
    return n == 1 ? QStringLiteral("request") : QStringLiteral("requests");
}

QDateTime nextUtcMidnight(const QDateTime &now)
{
    return QDateTime(now.toUTC().date().addDays(1), QTime(0, 0), Qt::UTC);
}

} // namespace

FreeQuota::FreeQuota(const QString &path, Clock now, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_record(QuotaFile::read(path).value_or(QuotaFile{}))
{
    // At the turn of the day the texts change with nothing else happening.
    m_dayEnd.setSingleShot(true);
    connect(&m_dayEnd, &QTimer::timeout, this, [this] {
        armDayEnd();
        Q_EMIT changed();
    });
    armDayEnd();
}

FreeQuota::~FreeQuota()
{
    cancelOperation(m_keyCheck);
}

QuotaFile FreeQuota::current() const
{
    const QDateTime now = m_now();
    QuotaFile day = m_record;
    if (day.day != now.toUTC().date())
        day = QuotaFile{ now.toUTC().date(), 0, m_record.freeTier, std::nullopt };
    if (day.stated && day.stated->resetMs && *day.stated->resetMs <= now.toMSecsSinceEpoch())
        day.stated.reset();
    return day;
}

std::optional<int> FreeQuota::limitOf(const QuotaFile &day) const
{
    if (day.stated && day.stated->limit)
        return day.stated->limit;
    if (day.freeTier == true)
        return freeTierLimit;
    return std::nullopt;
}

void FreeQuota::update(const std::function<void(QuotaFile &)> &change)
{
    QuotaFile day = current();
    change(day);
    m_record = day;
    m_record.write(m_path);
    armDayEnd();
    Q_EMIT changed();
}

void FreeQuota::armDayEnd()
{
    // At most an hour at a time, so that a clock set forward or a machine
    // waking from sleep is caught up with soon.
    const QDateTime now = m_now();
    const qint64 toMidnight = now.msecsTo(nextUtcMidnight(now)) + 1000;
    m_dayEnd.start(int(std::clamp<qint64>(toMidnight, 1000, 3600 * 1000)));
}

void FreeQuota::listenTo(OpenRouterClient &client)
{
    connect(&client, &OpenRouterClient::freeRequestSent, this, &FreeQuota::noteRequest);
    connect(&client, &OpenRouterClient::dailyLimitAnswered, this, &FreeQuota::noteDailyLimit);
}

void FreeQuota::noteRequest()
{
    update([](QuotaFile &day) { ++day.count; });
}

void FreeQuota::noteDailyLimit(const RateLimit &stated)
{
    qCInfo(lcQuota) << "daily free limit reached; stated limit" << stated.limit.value_or(-1);
    const qint64 nowMs = m_now().toMSecsSinceEpoch();
    update([&stated, nowMs](QuotaFile &day) {
        day.stated = QuotaFile::Stated{ stated.limit, stated.remaining.value_or(0), stated.resetMs, day.count,
            nowMs };
    });
}

void FreeQuota::noteKeyInfo(const KeyInfo &info)
{
    takeKeyInfo(info, askedNow());
}

FreeQuota::Asked FreeQuota::askedNow() const
{
    return { m_now(), current().count };
}

void FreeQuota::takeKeyInfo(const KeyInfo &info, const Asked &asked)
{
    if (!info.isFreeTier && !info.daily)
        return;
    // Asked before midnight UTC and answered after it, the numbers may be of
    // either day.
    const bool sameDay = asked.at.toUTC().date() == m_now().toUTC().date();
    if (info.daily && !sameDay)
        qCInfo(lcQuota) << "the day's numbers were asked on the day before; left out";
    update([&info, &asked, sameDay](QuotaFile &day) {
        if (info.isFreeTier)
            day.freeTier = info.isFreeTier;
        if (info.daily && sameDay)
            day.stated = QuotaFile::Stated{ info.daily->limit, info.daily->remaining,
                nextUtcMidnight(asked.at).toMSecsSinceEpoch(), std::min(asked.count, day.count),
                asked.at.toMSecsSinceEpoch() };
    });
}

void FreeQuota::checkKey(OpenRouterClient &client, const QString &key)
{
    if (m_keyCheck && m_checkedKey == key) {
        m_checkAgain = true;
        return;
    }
    cancelOperation(m_keyCheck);
    m_checkAgain = false;
    m_checkedKey = key;
    const Asked asked = askedNow();
    const QPointer<OpenRouterClient> from(&client);
    m_keyCheck = client.validateKey(key);
    connect(
        m_keyCheck, &KeyCheckCall::finished, this, [this, from, key, asked](const KeyCheckOutcome &outcome) {
            m_keyCheck = nullptr;
            if (outcome.ok())
                takeKeyInfo(outcome.value(), asked);
            else
                qCInfo(lcQuota) << "the key details are not to be had:" << outcome.error().kind();
            if (std::exchange(m_checkAgain, false) && from)
                checkKey(*from, key);
        });
}

void FreeQuota::forget()
{
    cancelOperation(m_keyCheck);
    m_checkedKey.clear();
    m_checkAgain = false;
    QuotaFile::remove(m_path);
    m_record = QuotaFile{};
    Q_EMIT changed();
}

std::optional<int> FreeQuota::left() const
{
    const QuotaFile day = current();
    if (day.stated)
        return std::max(0, day.stated->remaining - (day.count - day.stated->atCount));
    if (const std::optional<int> limit = limitOf(day))
        return std::max(0, *limit - day.count);
    return std::nullopt;
}

std::optional<int> FreeQuota::serviceRemaining() const
{
    const QuotaFile day = current();
    return day.stated ? std::optional<int>(day.stated->remaining) : std::nullopt;
}

std::optional<QString> FreeQuota::summary() const
{
    const QuotaFile day = current();
    const std::optional<int> limit = limitOf(day);
    const std::optional<int> remaining = left();
    if (limit && remaining) {
        // The service's numbers are exact until Tolvi spends more.
        const bool exact = day.stated && day.stated->atCount == day.count;
        return (exact ? QString() : QStringLiteral("About "))
            + QStringLiteral("%1 of %2 free requests left today").arg(*remaining).arg(*limit);
    }
    if (day.count > 0)
        return QStringLiteral("%1 free %2 used today").arg(day.count).arg(requests(day.count));
    return std::nullopt;
}

std::optional<QString> FreeQuota::warningIn(const QLocale &locale, const QTimeZone &zone) const
{
    const std::optional<int> remaining = left();
    if (!remaining || *remaining > fewLeft)
        return std::nullopt;
    if (*remaining > 0)
        return QStringLiteral("Only %1 free %2 left today.").arg(*remaining).arg(requests(*remaining));
    const QuotaFile day = current();
    const QDateTime reset = day.stated && day.stated->resetMs
        ? QDateTime::fromMSecsSinceEpoch(*day.stated->resetMs, Qt::UTC)
        : nextUtcMidnight(m_now());
    return QStringLiteral("Free requests reset at %1.")
        .arg(locale.toString(reset.toTimeZone(zone).time(), QLocale::ShortFormat));
}
