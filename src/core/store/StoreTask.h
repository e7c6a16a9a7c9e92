#pragma once

#include "core/records/ChatRecords.h"

#include <QStringList>

// One unit of the writer's work, made of values taken on the main thread.
// It runs in this order: leftovers, checks, chat files, the index,
// deletions.
struct StoreTask {
    quint64 number = 0;
    // Temporaries of interrupted writes, removed at once.
    QStringList leftovers;
    // Listed chats whose files are read back; those that do not decode are
    // reported.
    QList<QUuid> check;
    QList<Chat> chats;
    // Written only when every chat above was; entries without a chat file
    // are left out, so the index never lists a chat it cannot open.
    std::optional<QList<ChatSummary>> index;
    // Chat files that the index no longer lists, deleted once it has been
    // written; when a write of this task fails they wait for the next
    // index that is.
    QList<QUuid> deletions;

    bool isEmpty() const
    {
        return leftovers.isEmpty() && check.isEmpty() && chats.isEmpty() && !index && deletions.isEmpty();
    }
};

struct UnsavedChat {
    Chat chat;
    QString reason; // the system's words
};

// What came of one task.
struct StoreOutcome {
    quint64 task = 0;
    QList<QUuid> written;
    QList<UnsavedChat> failed;
    QList<QUuid> unreadable;
};
