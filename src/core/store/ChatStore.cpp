#include "store/ChatStore.h"

#include "store/IndexRecovery.h"
#include "store/StoreWriter.h"
#include "store/SummaryOrder.h"
#include "util/AppPaths.h"

#include <QDir>
#include <QFile>

namespace {

// Drops the oldest entries beyond the cap, never the chat being saved: with
// the clock set back, that chat can be the oldest of all.
QList<QUuid> evictBeyondCap(QList<ChatSummary> &summaries, const QUuid &keep)
{
    QList<QUuid> evicted;
    while (summaries.size() > ChatStore::maxChats) {
        qsizetype victim = summaries.size() - 1;
        if (summaries.at(victim).id == keep)
            --victim;
        evicted.append(summaries.takeAt(victim).id);
    }
    return evicted;
}

} // namespace

ChatStore::ChatStore(QObject *parent)
    : ChatStore(AppPaths::dir() + QStringLiteral("/chats"), parent)
{
}

ChatStore::ChatStore(const QString &dir, QObject *parent)
    : QObject(parent)
    , m_dir(dir)
{
    QDir().mkpath(m_dir);
    startWriter();
    loadIndex();
}

ChatStore::~ChatStore()
{
    drain();
    m_thread.quit();
    m_thread.wait();
}

void ChatStore::startWriter()
{
    m_thread.setObjectName(QStringLiteral("tolvi.store.io"));
    m_writer = new StoreWriter;
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    connect(m_writer, &StoreWriter::taskDone, this, &ChatStore::forgetWrittenUpTo);
    m_thread.start(QThread::LowPriority);
}

QString ChatStore::indexPath() const
{
    return m_dir + QStringLiteral("/index.json");
}

QString ChatStore::chatPath(const QUuid &id) const
{
    return m_dir + u'/' + RecordCodec::uuidText(id) + QStringLiteral(".json");
}

void ChatStore::loadIndex()
{
    QFile file(indexPath());
    std::optional<QList<ChatSummary>> listed;
    if (file.open(QIODevice::ReadOnly))
        listed = RecordCodec::decodeSummaries(file.readAll());
    if (listed) {
        SummaryOrder::sortNewestFirst(*listed);
        SummaryOrder::dropRepeatedIds(*listed);
        m_summaries = std::move(*listed);
        return;
    }
    // Without a usable index the chat files themselves are the record of
    // what the user has; list them again rather than hide them for good.
    QList<ChatSummary> rebuilt = IndexRecovery::summariesFromChatFiles(m_dir, maxChats);
    if (rebuilt.isEmpty())
        return;
    m_summaries = rebuilt;
    enqueue([index = indexPath(), rebuilt](
                StoreWriter &writer) { writer.writeFile(index, RecordCodec::encodeSummaries(rebuilt)); });
}

void ChatStore::save(const Chat &chat)
{
    if (chat.messages.isEmpty())
        return;
    Chat stored = chat;
    stored.updated = QDateTime::currentDateTimeUtc();

    QList<ChatSummary> summaries = m_summaries;
    summaries.removeIf([&stored](const ChatSummary &summary) { return summary.id == stored.id; });
    // In front, so that a save within the same millisecond as another still
    // comes out on top after the stable sort.
    summaries.prepend(stored.summary());
    SummaryOrder::sortNewestFirst(summaries);
    const QList<QUuid> evicted = evictBeyondCap(summaries, stored.id);
    m_summaries = std::move(summaries);

    QStringList evictedPaths;
    for (const QUuid &id : evicted)
        evictedPaths.append(chatPath(id));
    const quint64 task = enqueue([chat = stored, path = chatPath(stored.id), index = indexPath(),
                                     snapshot = m_summaries, evictedPaths](StoreWriter &writer) {
        writer.writeFile(path, chat.encode());
        writer.writeFile(index, RecordCodec::encodeSummaries(snapshot));
        for (const QString &evictedPath : evictedPaths)
            writer.removeFile(evictedPath);
    });
    m_pending.insert(stored.id, Pending{ stored, task });
    for (const QUuid &id : evicted)
        m_pending.insert(id, Pending{ std::nullopt, task });
    // Last, so that anyone reacting to the change already loads the new state.
    Q_EMIT summariesChanged();
}

void ChatStore::remove(const QUuid &id)
{
    const bool listed
        = m_summaries.removeIf([&id](const ChatSummary &summary) { return summary.id == id; }) > 0;
    const quint64 task
        = enqueue([path = chatPath(id), index = indexPath(), snapshot = m_summaries](StoreWriter &writer) {
              writer.removeFile(path);
              writer.writeFile(index, RecordCodec::encodeSummaries(snapshot));
          });
    m_pending.insert(id, Pending{ std::nullopt, task });
    if (listed)
        Q_EMIT summariesChanged();
}

std::optional<Chat> ChatStore::load(const QUuid &id) const
{
    const auto pending = m_pending.constFind(id);
    if (pending != m_pending.cend())
        return pending->chat;
    QFile file(chatPath(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto chat = Chat::decode(file.readAll());
    if (!chat || chat->id != id)
        return std::nullopt;
    return chat;
}

void ChatStore::drain()
{
    // The queue is serial, so once an empty task has run, so has every task
    // queued before it.
    QMetaObject::invokeMethod(
        m_writer, [] {}, Qt::BlockingQueuedConnection);
    forgetWrittenUpTo(m_lastTask);
}

void ChatStore::setFileObserver(FileObserver observer)
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, observer = std::move(observer)] { writer->setObserver(observer); },
        Qt::QueuedConnection);
}

quint64 ChatStore::enqueue(std::function<void(StoreWriter &)> task)
{
    const quint64 id = ++m_lastTask;
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, id, task = std::move(task)] { writer->run(id, task); },
        Qt::QueuedConnection);
    return id;
}

void ChatStore::forgetWrittenUpTo(quint64 task)
{
    m_pending.removeIf([task](const auto &entry) { return entry.value().task <= task; });
}
