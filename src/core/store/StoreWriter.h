#pragma once

#include "core/store/ChatStore.h"
#include "core/store/StoreTask.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QSet>

// Lives on the store's worker thread and performs its file work there, one
// task at a time. What came of each task waits in a mailbox that the store
// empties on the main thread (outcomesReady says there is something).
//
// The index never lists a chat without a complete file: a task whose chat
// write fails does not write the index, entries whose file is missing are
// left out of it, and a chat file is deleted only after an index that no
// longer lists it has been written.
class StoreWriter : public QObject
{
    Q_OBJECT

public:
    explicit StoreWriter(const QString &dir);

    void setObserver(ChatStore::FileObserver observer) { m_observer = std::move(observer); }
    // Files written from now on are stamped later than `time`.
    void stampAfter(const QDateTime &time);

    void run(const StoreTask &task);

    // Any thread.
    QList<StoreOutcome> takeOutcomes();

Q_SIGNALS:
    void outcomesReady();

private:
    void writeChats(const QList<Chat> &chats, StoreOutcome &outcome);
    // Leaves out entries without a chat file. On failure the written chats
    // count as failed too.
    bool writeIndex(QList<ChatSummary> summaries, const QList<Chat> &written, StoreOutcome &outcome);
    void deleteChats(const QList<QUuid> &ids);
    QList<QUuid> unreadable(const QList<QUuid> &ids) const;
    void post(const StoreOutcome &outcome);
    std::optional<QString> writeFile(const QString &path, const QByteArray &bytes);
    void removeFile(const QString &path);
    QDateTime nextStamp();
    void notify(ChatStore::FileOp op, const QString &path) const;

    const QString m_dir;
    ChatStore::FileObserver m_observer;
    QDateTime m_lastStamp;
    // Deletions that wait for an index write that lands.
    QSet<QUuid> m_deferred;

    QMutex m_mailboxLock;
    QList<StoreOutcome> m_mailbox;
};
