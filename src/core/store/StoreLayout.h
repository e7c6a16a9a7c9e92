#pragma once

#include "core/records/ChatRecords.h"

// The names of the store's files: "index.json" and one "<UUID>.json" per chat
// (canonical upper-case id), and what an interrupted atomic write leaves.
namespace StoreLayout {

QString indexPath(const QString &dir);
QString chatPath(const QString &dir, const QUuid &id);

// The chat id a file name stands for; nothing for any other name, also for
// another spelling of an id, since the store names files from parsed ids.
std::optional<QUuid> chatIdOfFileName(const QString &name);

// The temporary of an atomic write that never reached its rename: the
// target's name and six random letters or digits.
bool isLeftoverName(const QString &name);

// The chat in the file of that id, when the file decodes and carries that id.
std::optional<Chat> readChat(const QString &dir, const QUuid &id);

} // namespace StoreLayout
