#include "core/service/ServiceTypes.h"

#include "core/service/NumberText.h"

QJsonObject ORModel::toJson() const
{
    return QJsonObject{
        { QStringLiteral("id"), id },
        { QStringLiteral("name"), name },
        { QStringLiteral("contextLength"), contextLength },
        { QStringLiteral("supportsImages"), supportsImages },
    };
}

std::optional<ORModel> ORModel::fromJson(const QJsonObject &object)
{
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const std::optional<int> contextLength
        = NumberText::exactInt(object.value(QLatin1String("contextLength")));
    const QJsonValue supportsImages = object.value(QLatin1String("supportsImages"));
    if (!id.isString() || !name.isString() || !contextLength || !supportsImages.isBool())
        return std::nullopt;
    return ORModel{ id.toString(), name.toString(), *contextLength, supportsImages.toBool() };
}

std::optional<DailyRequests> DailyRequests::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const std::optional<int> limit = NumberText::exactInt(object.value(QLatin1String("limit")));
    const std::optional<int> remaining = NumberText::exactInt(object.value(QLatin1String("remaining")));
    const std::optional<int> used = NumberText::exactInt(object.value(QLatin1String("used")));
    if (!limit || !remaining || !used || *limit < 0 || *remaining < 0 || *used < 0)
        return std::nullopt;
    return DailyRequests{ *limit, *remaining, *used };
}
