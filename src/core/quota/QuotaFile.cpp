#include "core/quota/QuotaFile.h"

#include "core/quota/QuotaLog.h"
#include "core/util/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

const QString dayFormat = QStringLiteral("yyyy-MM-dd");
// Epoch milliseconds travel as JSON numbers, exact up to 2^53.
constexpr double maxMs = 9007199254740992.0;

// A JSON number that is a whole number from 0 up to max.
std::optional<qint64> whole(const QJsonValue &value, double max)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > max || std::trunc(number) != number)
        return std::nullopt;
    return qint64(number);
}

std::optional<int> count(const QJsonValue &value)
{
    const std::optional<qint64> number = whole(value, std::numeric_limits<int>::max());
    return number ? std::optional<int>(int(*number)) : std::nullopt;
}

std::optional<QuotaFile::Stated> decodeStated(const QJsonObject &object)
{
    QuotaFile::Stated stated;
    const std::optional<int> remaining = count(object.value(QLatin1String("remaining")));
    const std::optional<int> atCount = count(object.value(QLatin1String("atCount")));
    if (!remaining || !atCount)
        return std::nullopt;
    stated.remaining = *remaining;
    stated.atCount = *atCount;
    const QJsonValue limit = object.value(QLatin1String("limit"));
    const QJsonValue reset = object.value(QLatin1String("reset"));
    const QJsonValue made = object.value(QLatin1String("made"));
    if (!limit.isUndefined() && !(stated.limit = count(limit)))
        return std::nullopt;
    if (!reset.isUndefined() && !(stated.resetMs = whole(reset, maxMs)))
        return std::nullopt;
    if (!made.isUndefined() && !(stated.madeMs = whole(made, maxMs)))
        return std::nullopt;
    return stated;
}

} // namespace

QByteArray QuotaFile::encode() const
{
    QJsonObject root{ { QStringLiteral("day"), day.toString(dayFormat) },
        { QStringLiteral("count"), count } };
    if (freeTier)
        root.insert(QStringLiteral("freeTier"), *freeTier);
    if (stated) {
        QJsonObject object{ { QStringLiteral("remaining"), stated->remaining },
            { QStringLiteral("atCount"), stated->atCount } };
        if (stated->limit)
            object.insert(QStringLiteral("limit"), *stated->limit);
        if (stated->resetMs)
            object.insert(QStringLiteral("reset"), double(*stated->resetMs));
        if (stated->madeMs)
            object.insert(QStringLiteral("made"), double(*stated->madeMs));
        root.insert(QStringLiteral("stated"), object);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<QuotaFile> QuotaFile::decode(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    QuotaFile file;
    file.day = QDate::fromString(root.value(QLatin1String("day")).toString(), dayFormat);
    const std::optional<int> counted = ::count(root.value(QLatin1String("count")));
    if (!file.day.isValid() || !counted)
        return std::nullopt;
    file.count = *counted;
    const QJsonValue freeTier = root.value(QLatin1String("freeTier"));
    if (freeTier.isBool())
        file.freeTier = freeTier.toBool();
    else if (!freeTier.isUndefined())
        return std::nullopt;
    const QJsonValue stated = root.value(QLatin1String("stated"));
    if (stated.isObject())
        file.stated = decodeStated(stated.toObject());
    if (!stated.isUndefined() && !file.stated)
        return std::nullopt;
    return file;
}

std::optional<QuotaFile> QuotaFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QuotaFile> decoded = decode(file.readAll());
    if (!decoded)
        qCWarning(lcQuota) << "quota.json is not readable; counting from nothing";
    return decoded;
}

void QuotaFile::write(const QString &path) const
{
    if (const std::optional<QString> failure
        = AtomicFile::write(path, encode(), QDateTime::currentDateTimeUtc())) {
        qCWarning(lcQuota).noquote() << "quota.json not written:" << *failure;
    }
}

void QuotaFile::remove(const QString &path)
{
    QFile::remove(path);
}
