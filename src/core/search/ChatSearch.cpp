#include "core/search/ChatSearch.h"

#include "core/search/ChatSearchIndex.h"
#include "core/search/SearchText.h"
#include "core/store/ChatStore.h"

ChatSearch::ChatSearch(ChatStore &store, IndexSource index, QObject *parent)
    : QObject(parent)
    , m_indexSource(std::move(index))
{
    // The index learns of each change by a direct call made from the same
    // signals; asking later, once those have run, queues the query behind
    // the change.
    connect(&store, &ChatStore::chatStored, this, &ChatSearch::askSoon);
    connect(&store, &ChatStore::chatRemoved, this, &ChatSearch::askSoon);
}

bool ChatSearch::shows(const QUuid &chat) const
{
    return !isActive() || !m_found || m_found->contains(chat);
}

void ChatSearch::setQuery(const QString &query)
{
    m_query = query;
    const QStringList words = SearchText::words(query);
    if (words == m_words)
        return;
    m_words = words;
    Q_EMIT wordsChanged();
    if (isActive()) {
        ask();
        return;
    }
    m_found.reset();
    m_answeredWords.clear();
    Q_EMIT resultsChanged();
}

void ChatSearch::warmUp()
{
    if (!m_index) {
        m_index = &m_indexSource();
        connect(m_index, &ChatSearchIndex::found, this, &ChatSearch::onFound);
    }
}

void ChatSearch::ask()
{
    warmUp();
    m_index->search(m_query);
}

void ChatSearch::askSoon()
{
    if (!isActive() || m_askPending)
        return;
    m_askPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_askPending = false;
            if (isActive())
                ask();
        },
        Qt::QueuedConnection);
}

void ChatSearch::onFound(const QString &query, const QList<QUuid> &chats)
{
    // An answer to a query since cleared or changed is of no use.
    const QStringList words = SearchText::words(query);
    if (!isActive() || words != m_words)
        return;
    m_found = QSet<QUuid>(chats.begin(), chats.end());
    m_answeredWords = words;
    Q_EMIT resultsChanged();
}

int ChatSearch::firstMatchIn(const Chat &chat) const
{
    if (!isActive())
        return -1;
    for (qsizetype i = 0; i < chat.messages.size(); ++i) {
        if (!SearchText::matches(chat.messages[i].text, m_words).isEmpty())
            return int(i);
    }
    return -1;
}
