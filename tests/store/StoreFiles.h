#pragma once

#include "core/records/ChatRecords.h"

#include <QString>

// Direct file access for the store tests: what a previous run, or damage,
// left in the chats folder.
namespace storefiles {

QString chatsDir();
void clearChatsDir();

Chat chatWithText(const QString &text, const QDateTime &updated = QDateTime::currentDateTimeUtc());

bool writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);
bool writeChatFile(const Chat &chat);
bool writeIndex(const QList<ChatSummary> &summaries);
std::optional<QList<ChatSummary>> readIndex();
std::optional<Chat> readChatFile(const QUuid &id);
QString chatFilePath(const QUuid &id);

} // namespace storefiles
