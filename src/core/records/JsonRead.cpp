#include "core/records/JsonRead.h"

#include "core/records/ChatRecords.h"
#include "core/util/DateCodec.h"

namespace JsonRead {

std::optional<QString> stringMember(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QUuid> uuidMember(const QJsonObject &object, QStringView key)
{
    const auto text = stringMember(object, key);
    if (!text)
        return std::nullopt;
    return RecordCodec::parseUuid(*text);
}

std::optional<QDateTime> dateMember(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const QDateTime when = DateCodec::fromReferenceSeconds(value.toDouble());
    if (!when.isValid())
        return std::nullopt;
    return when;
}

std::optional<QJsonArray> arrayMember(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return std::nullopt;
    return value.toArray();
}

std::optional<QStringList> stringListMember(const QJsonObject &object, QStringView key)
{
    const auto array = arrayMember(object, key);
    if (!array)
        return std::nullopt;
    QStringList strings;
    strings.reserve(array->size());
    for (const QJsonValue &value : *array) {
        if (!value.isString())
            return std::nullopt;
        strings.append(value.toString());
    }
    return strings;
}

std::optional<std::optional<QString>> optionalStringMember(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<QString>();
    if (!value.isString())
        return std::nullopt;
    return std::optional<QString>(value.toString());
}

} // namespace JsonRead
