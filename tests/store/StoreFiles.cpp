#include "StoreFiles.h"

#include "core/util/AppPaths.h"

#include <QDir>
#include <QFile>

namespace storefiles {

QString chatsDir()
{
    return AppPaths::dir() + QStringLiteral("/chats");
}

void clearChatsDir()
{
    QDir(chatsDir()).removeRecursively();
}

Chat chatWithText(const QString &text, const QDateTime &updated)
{
    Chat chat;
    chat.title = Chat::titleFrom(text);
    chat.updated = updated;
    chat.messages = { ChatMessage{
        QUuid::createUuid(), QStringLiteral("user"), text, {}, std::nullopt, std::nullopt } };
    return chat;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(chatsDir());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString chatFilePath(const QUuid &id)
{
    return chatsDir() + u'/' + RecordCodec::uuidText(id) + QStringLiteral(".json");
}

bool writeChatFile(const Chat &chat)
{
    return writeBytes(chatFilePath(chat.id), chat.encode());
}

bool writeIndex(const QList<ChatSummary> &summaries)
{
    return writeBytes(chatsDir() + QStringLiteral("/index.json"), RecordCodec::encodeSummaries(summaries));
}

std::optional<QList<ChatSummary>> readIndex()
{
    return RecordCodec::decodeSummaries(readBytes(chatsDir() + QStringLiteral("/index.json")));
}

std::optional<Chat> readChatFile(const QUuid &id)
{
    return Chat::decode(readBytes(chatFilePath(id)));
}

} // namespace storefiles
