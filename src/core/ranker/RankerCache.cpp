#include "core/ranker/RankerCache.h"

#include "core/util/AppPaths.h"
#include "core/util/AtomicFile.h"
#include "core/util/DateCodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

std::optional<QList<ORModel>> decodeModels(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QList<ORModel> models;
    for (const QJsonValue &entry : value.toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        std::optional<ORModel> model = ORModel::fromJson(entry.toObject());
        if (!model)
            return std::nullopt;
        models.append(*model);
    }
    return models;
}

std::optional<QStringList> decodeLadder(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList ladder;
    for (const QJsonValue &entry : value.toArray()) {
        if (!entry.isString())
            return std::nullopt;
        ladder.append(entry.toString());
    }
    return ladder;
}

// The measurements are a courtesy of the cache: a malformed map costs the
// figures, never the ladder.
QHash<QString, double> decodeFigures(const QJsonValue &value)
{
    QHash<QString, double> figures;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isDouble())
            figures.insert(it.key(), it.value().toDouble());
    }
    return figures;
}

QJsonObject encodeFigures(const QHash<QString, double> &figures)
{
    QJsonObject object;
    for (auto it = figures.begin(); it != figures.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

bool RankerCache::isFresh(const QDateTime &now) const
{
    return !ladder.isEmpty() && now.toMSecsSinceEpoch() - fetched.toMSecsSinceEpoch() < freshForMs;
}

QByteArray RankerCache::encode() const
{
    QJsonArray modelArray;
    for (const ORModel &model : models)
        modelArray.append(model.toJson());
    QJsonObject root;
    root.insert(QStringLiteral("fetched"), DateCodec::toReferenceSeconds(fetched));
    root.insert(QStringLiteral("models"), modelArray);
    root.insert(QStringLiteral("ladder"), QJsonArray::fromStringList(ladder));
    root.insert(QStringLiteral("probeSeconds"), encodeFigures(probeSeconds));
    root.insert(QStringLiteral("uptimes"), encodeFigures(uptimes));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<RankerCache> RankerCache::decode(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue fetchedValue = root.value(QStringLiteral("fetched"));
    if (!fetchedValue.isDouble())
        return std::nullopt;
    const QDateTime fetched = DateCodec::fromReferenceSeconds(fetchedValue.toDouble());
    if (!fetched.isValid())
        return std::nullopt;
    std::optional<QList<ORModel>> models = decodeModels(root.value(QStringLiteral("models")));
    std::optional<QStringList> ladder = decodeLadder(root.value(QStringLiteral("ladder")));
    if (!models || !ladder)
        return std::nullopt;
    return RankerCache{ fetched, *models, *ladder, decodeFigures(root.value(QStringLiteral("probeSeconds"))),
        decodeFigures(root.value(QStringLiteral("uptimes"))) };
}

std::optional<RankerCache> RankerCache::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return decode(file.readAll());
}

void RankerCache::write(const QString &path) const
{
    // A buffered save file cut short by a full disk would still commit, and
    // leave a truncated cache in place of the old one.
    AtomicFile::write(path, encode(), QDateTime::currentDateTimeUtc());
}

void RankerCache::remove(const QString &path)
{
    QFile::remove(path);
}

QString RankerCache::defaultPath()
{
    return AppPaths::dir() + QStringLiteral("/models-cache.json");
}
