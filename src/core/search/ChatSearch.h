#pragma once

#include "core/records/ChatRecords.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

class ChatSearchIndex;
class ChatStore;

// The person's search over the chats: the query as typed, its folded
// words, and the chats it finds, kept right while chats are stored and
// removed. The index is asked for at the first query (or at warmUp()),
// never before, so that nobody pays for it who does not search.
class ChatSearch : public QObject
{
    Q_OBJECT
public:
    using IndexSource = std::function<ChatSearchIndex &()>;

    ChatSearch(ChatStore &store, IndexSource index, QObject *parent = nullptr);

    const QString &query() const { return m_query; }
    // The query's words as search compares them; empty while no query is
    // active.
    const QStringList &words() const { return m_words; }
    bool isActive() const { return !m_words.isEmpty(); }
    // Whether the results show that chat: every chat does while no query is
    // active, and until the index has answered the first query.
    bool shows(const QUuid &chat) const;
    // Whether the index has answered the query as it is now.
    bool isAnswered() const { return !isActive() || m_answeredWords == m_words; }

    void setQuery(const QString &query);
    // Has the index made (reading the chats on its own thread) before the
    // first query needs it.
    void warmUp();

    // The first of the chat's messages holding a word of the query, or -1.
    int firstMatchIn(const Chat &chat) const;

Q_SIGNALS:
    // The words changed (not merely the spacing of the query).
    void wordsChanged();
    // shows() may answer otherwise.
    void resultsChanged();

private:
    void ask();
    void askSoon();
    void onFound(const QString &query, const QList<QUuid> &chats);

    IndexSource m_indexSource;
    ChatSearchIndex *m_index = nullptr;
    QString m_query;
    QStringList m_words;
    QStringList m_answeredWords;
    std::optional<QSet<QUuid>> m_found; // none: every chat is shown
    bool m_askPending = false;
};
