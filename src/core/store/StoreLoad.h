#pragma once

#include "core/records/ChatRecords.h"

#include <QDateTime>
#include <QStringList>

// What the chats folder holds at start-up, made sound after a crash at any
// moment of the writer's work:
// - an index entry whose file is gone is dropped;
// - a chat file written after the index (the save's index write never
//   landed) is listed from the file itself; an unlisted file older than the
//   index stays unlisted;
// - temporaries of interrupted atomic writes are found for removal;
// - the list is sorted newest first and holds at most `limit` chats.
// Only the files written after the index are read here; the others are
// left for the writer to check.
namespace StoreLoad {

struct Result {
    QList<ChatSummary> summaries;
    bool indexStale = false; // index.json no longer says what summaries says
    QList<QUuid> unread; // listed chats whose files were not read
    QStringList leftovers;
    QDateTime latest; // the newest modification time in the folder
};

Result read(const QString &dir, qsizetype limit);

} // namespace StoreLoad
