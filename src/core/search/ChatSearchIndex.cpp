#include "core/search/ChatSearchIndex.h"

#include "core/search/SearchText.h"
#include "core/search/WordIndex.h"
#include "core/store/ChatStore.h"

#include <QFile>
#include <malloc.h>

namespace {

QStringList wordsOf(const Chat &chat)
{
    QStringList words = SearchText::words(chat.title);
    for (const ChatMessage &message : chat.messages)
        words << SearchText::words(message.text);
    return words;
}

} // namespace

ChatSearchIndex::ChatSearchIndex(const QStringList &chatFiles, QObject *parent)
    : QObject(parent)
    , m_worker(new QObject)
    , m_index(new WordIndex)
{
    m_thread.setObjectName(QStringLiteral("tolvi.search"));
    m_worker->moveToThread(&m_thread);
    m_thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(m_worker, [index = m_index, chatFiles] {
        for (const QString &path : chatFiles) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            if (const std::optional<Chat> chat = Chat::decode(file.readAll()))
                index->put(chat->id, wordsOf(*chat));
        }
        // Reading every chat once left its freed memory with this thread's
        // allocator; give it back.
        malloc_trim(0);
    });
}

ChatSearchIndex::~ChatSearchIndex()
{
    // Queued work runs to its end; then the worker and index go on this
    // thread, which nothing else touches any more.
    QMetaObject::invokeMethod(m_worker, [thread = &m_thread] { thread->quit(); });
    m_thread.wait();
    delete m_worker;
    delete m_index;
}

std::unique_ptr<ChatSearchIndex> ChatSearchIndex::following(ChatStore &store)
{
    QStringList files;
    for (const ChatSummary &summary : store.summaries())
        files << store.chatPath(summary.id);
    auto index = std::make_unique<ChatSearchIndex>(files);
    // Behind the files, what has not reached them yet.
    for (const Chat &chat : store.unwrittenChats())
        index->chatStored(chat);
    connect(&store, &ChatStore::chatStored, index.get(), &ChatSearchIndex::chatStored);
    connect(&store, &ChatStore::chatRemoved, index.get(), &ChatSearchIndex::chatRemoved);
    return index;
}

void ChatSearchIndex::chatStored(const Chat &chat)
{
    QMetaObject::invokeMethod(m_worker, [index = m_index, chat] { index->put(chat.id, wordsOf(chat)); });
}

void ChatSearchIndex::chatRemoved(const QUuid &id)
{
    QMetaObject::invokeMethod(m_worker, [index = m_index, id] { index->remove(id); });
}

void ChatSearchIndex::search(const QString &query)
{
    const quint64 serial = ++m_lastQuery;
    const QStringList words = SearchText::words(query);
    if (words.isEmpty()) {
        Q_EMIT found(query, {});
        return;
    }
    QMetaObject::invokeMethod(m_worker, [this, index = m_index, serial, query, words] {
        const QList<QUuid> chats = index->find(words);
        QMetaObject::invokeMethod(this, [this, serial, query, chats] { deliver(serial, query, chats); });
    });
}

void ChatSearchIndex::deliver(quint64 serial, const QString &query, const QList<QUuid> &chats)
{
    if (serial == m_lastQuery)
        Q_EMIT found(query, chats);
}
