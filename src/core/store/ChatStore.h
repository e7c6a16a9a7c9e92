#pragma once

#include "records/ChatRecords.h"

#include <QHash>
#include <QObject>
#include <QThread>

#include <functional>

class StoreWriter;

// Keeps the chats on disk: one JSON file per chat plus "index.json", in
// <AppPaths::dir()>/chats. Publishes the list of summaries, newest first.
// Every file write and delete runs on one worker thread, "tolvi.store.io", in
// the order of the calls; the main thread only copies values and queues work.
// At most 200 chats are kept.
class ChatStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<ChatSummary> summaries READ summaries NOTIFY summariesChanged)

public:
    static constexpr int maxChats = 200;

    // Loads the index from dir (default: AppPaths::dir() + "/chats").
    explicit ChatStore(QObject *parent = nullptr);
    explicit ChatStore(const QString &dir, QObject *parent = nullptr);
    ~ChatStore() override; // drains the writer

    const QList<ChatSummary> &summaries() const { return m_summaries; }
    QString dir() const { return m_dir; }
    QString indexPath() const;
    QString chatPath(const QUuid &id) const;

    // Stores a copy of chat with `updated` set to now. A chat without
    // messages is never written.
    void save(const Chat &chat);
    // Forgets the chat and deletes its file.
    void remove(const QUuid &id);
    // The newest saved version of a chat: the one still waiting in the write
    // queue if there is one, else the file's. Nothing when neither decodes.
    std::optional<Chat> load(const QUuid &id) const;

    // Blocks until every queued write has run. For shutdown and tests.
    void drain();

Q_SIGNALS:
    void summariesChanged();

private:
    void loadIndex();
    void enqueue(std::function<void()> task);

    QString m_dir;
    QList<ChatSummary> m_summaries;
    // Chats saved but not yet written, with the number of queued writes each.
    QHash<QUuid, QPair<Chat, int>> m_pending;
    QThread m_thread;
    StoreWriter *m_writer = nullptr;
};
