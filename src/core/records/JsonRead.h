#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>
#include <optional>

// Typed reads of one member of a JSON object. Each gives nothing when the
// member is missing or has the wrong JSON type, so that a record's decoder can
// fail as a whole. Optional members come back as a present-but-empty optional
// when missing or null.
namespace JsonRead {

std::optional<QString> stringMember(const QJsonObject &object, QStringView key);
std::optional<QUuid> uuidMember(const QJsonObject &object, QStringView key);
// A JSON number (never a boolean) of seconds since 2001 that maps to a valid date.
std::optional<QDateTime> dateMember(const QJsonObject &object, QStringView key);
std::optional<QJsonArray> arrayMember(const QJsonObject &object, QStringView key);
std::optional<QStringList> stringListMember(const QJsonObject &object, QStringView key);
// Outer optional: the read succeeded; inner: the member was present.
std::optional<std::optional<QString>> optionalStringMember(const QJsonObject &object, QStringView key);

} // namespace JsonRead
