#pragma once

#include "core/records/ChatRecords.h"

#include <QObject>
#include <QThread>
#include <memory>

class ChatStore;
class WordIndex;

// Search over the titles and message texts of every chat, off the main
// thread. The index lives on a thread of its own, "tolvi.search", which
// reads the chat files at first and then follows what it is told: each
// stored and each removed chat. Queries run there in order behind those
// changes; only the answer to the latest query is delivered, so typing
// never waits for an older one.
class ChatSearchIndex : public QObject
{
    Q_OBJECT
public:
    // Reads the files (each a chat's JSON) on the index's thread; a file
    // that does not decode is left out.
    explicit ChatSearchIndex(const QStringList &chatFiles, QObject *parent = nullptr);
    ~ChatSearchIndex() override; // waits for the index's thread

    // An index of the store's chats (its files, then what has not reached
    // them yet) that follows each chat stored and removed from then on.
    static std::unique_ptr<ChatSearchIndex> following(ChatStore &store);

    void chatStored(const Chat &chat);
    void chatRemoved(const QUuid &id);

    // Answers with found(); an empty query (or one without words) answers
    // at once with no chats.
    void search(const QString &query);

Q_SIGNALS:
    // The chats whose title or messages hold every word of query, each as
    // the beginning of a word, ignoring case and accents.
    void found(const QString &query, const QList<QUuid> &chats);

private:
    void deliver(quint64 serial, const QString &query, const QList<QUuid> &chats);

    QThread m_thread;
    QObject *m_worker = nullptr; // lives on m_thread
    WordIndex *m_index = nullptr; // touched on m_thread only
    quint64 m_lastQuery = 0;
};
