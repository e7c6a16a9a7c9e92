#include "core/store/StoreLayout.h"

#include <QFile>
#include <QRegularExpression>

namespace StoreLayout {

namespace {

const QString indexName = QStringLiteral("index.json");
const QString chatSuffix = QStringLiteral(".json");

} // namespace

QString indexPath(const QString &dir)
{
    return dir + u'/' + indexName;
}

QString chatPath(const QString &dir, const QUuid &id)
{
    return dir + u'/' + RecordCodec::uuidText(id) + chatSuffix;
}

std::optional<QUuid> chatIdOfFileName(const QString &name)
{
    if (!name.endsWith(chatSuffix))
        return std::nullopt;
    const auto id = RecordCodec::parseUuid(name.chopped(chatSuffix.size()));
    if (!id || RecordCodec::uuidText(*id) + chatSuffix != name)
        return std::nullopt;
    return id;
}

bool isLeftoverName(const QString &name)
{
    static const QRegularExpression temporary(QStringLiteral("^(.+)\\.[A-Za-z0-9]{6}$"));
    const QRegularExpressionMatch match = temporary.match(name);
    if (!match.hasMatch())
        return false;
    const QString target = match.captured(1);
    return target == indexName || chatIdOfFileName(target).has_value();
}

std::optional<Chat> readChat(const QString &dir, const QUuid &id)
{
    QFile file(chatPath(dir, id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<Chat> chat = Chat::decode(file.readAll());
    if (!chat || chat->id != id)
        return std::nullopt;
    return chat;
}

} // namespace StoreLayout
