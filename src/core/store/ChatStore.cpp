#include "core/store/ChatStore.h"

#include "core/store/StoreLayout.h"
#include "core/store/StoreLoad.h"
#include "core/store/StoreWriter.h"
#include "core/store/SummaryOrder.h"
#include "core/util/AppPaths.h"

#include <QDir>
#include <QTimer>
#include <future>

namespace {

// Reading every listed chat back takes the writer a few milliseconds of CPU
// for a full store; begun at once, it would compete with the first frame
// for the cores. What it finds (a chat damaged since the last run) is rare
// and nobody waits for it.
constexpr int startupTaskDelayMs = 1000;

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

QString defaultDir()
{
    return AppPaths::dir() + QStringLiteral("/chats");
}

// The read begun by a ReadAhead. Main thread only.
struct ReadAheadSlot {
    QString dir;
    std::future<StoreLoad::Result> result;
};

ReadAheadSlot &readAheadSlot()
{
    static ReadAheadSlot slot;
    return slot;
}

} // namespace

ChatStore::ReadAhead::ReadAhead()
{
    ReadAheadSlot &slot = readAheadSlot();
    slot.dir = defaultDir();
    slot.result = std::async(std::launch::async, [dir = slot.dir] { return StoreLoad::read(dir, maxChats); });
}

ChatStore::ReadAhead::~ReadAhead()
{
    readAheadSlot() = ReadAheadSlot();
}

ChatStore::ChatStore(QObject *parent)
    : ChatStore(defaultDir(), parent)
{
}

ChatStore::ChatStore(const QString &dir, QObject *parent)
    : ChatStore(dir, FileObserver(), parent)
{
}

ChatStore::ChatStore(const QString &dir, FileObserver observer, QObject *parent)
    : QObject(parent)
    , m_dir(dir)
{
    QDir().mkpath(m_dir);
    startWriter(std::move(observer));
    loadIndex();
}

ChatStore::~ChatStore()
{
    // Whoever listens may already be half gone.
    const QSignalBlocker quiet(this);
    drain();
    m_thread.quit();
    m_thread.wait();
}

void ChatStore::startWriter(FileObserver observer)
{
    m_thread.setObjectName(QStringLiteral("tolvi.store.io"));
    m_writer = new StoreWriter(m_dir);
    m_writer->setObserver(std::move(observer));
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    connect(m_writer, &StoreWriter::outcomesReady, this, &ChatStore::takeOutcomes);
    m_thread.start(QThread::LowPriority);
}

QString ChatStore::indexPath() const
{
    return StoreLayout::indexPath(m_dir);
}

QString ChatStore::chatPath(const QUuid &id) const
{
    return StoreLayout::chatPath(m_dir, id);
}

// Start-up reads only the folder's listing and the index (and the rare chat
// files written after it); reading every listed chat back is the writer's
// first task, and any that does not decode is dropped when it reports.
void ChatStore::loadIndex()
{
    ReadAheadSlot &ahead = readAheadSlot();
    StoreLoad::Result loaded
        = ahead.result.valid() && ahead.dir == m_dir ? ahead.result.get() : StoreLoad::read(m_dir, maxChats);
    m_summaries = std::move(loaded.summaries);
    StoreTask task;
    task.leftovers = std::move(loaded.leftovers);
    task.check = std::move(loaded.unread);
    if (loaded.indexStale)
        task.index = m_summaries;
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, latest = loaded.latest] { writer->stampAfter(latest); },
        Qt::QueuedConnection);
    if (task.isEmpty())
        return;
    m_startupTask = std::move(task);
    QTimer::singleShot(startupTaskDelayMs, this, &ChatStore::releaseStartupTask);
}

void ChatStore::releaseStartupTask()
{
    if (std::optional<StoreTask> task = std::exchange(m_startupTask, std::nullopt))
        enqueue(std::move(*task));
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

    StoreTask task;
    task.chats = QList<Chat>{ stored } + retries(stored.id);
    task.index = m_summaries;
    task.deletions = evicted;
    enqueue(std::move(task));
    const bool failuresChanged = forgetUnsaved(evicted);
    // Last, so that anyone reacting to the change already loads the new state.
    Q_EMIT summariesChanged();
    if (failuresChanged)
        Q_EMIT saveFailuresChanged();
    Q_EMIT chatStored(stored);
    for (const QUuid &id : evicted)
        Q_EMIT chatRemoved(id);
}

void ChatStore::remove(const QUuid &id)
{
    const bool listed
        = m_summaries.removeIf([&id](const ChatSummary &summary) { return summary.id == id; }) > 0;
    StoreTask task;
    task.index = m_summaries;
    task.deletions = { id };
    enqueue(std::move(task));
    const bool failuresChanged = forgetUnsaved({ id });
    if (listed)
        Q_EMIT summariesChanged();
    if (failuresChanged)
        Q_EMIT saveFailuresChanged();
    Q_EMIT chatRemoved(id);
}

std::optional<Chat> ChatStore::load(const QUuid &id) const
{
    const auto pending = m_pending.constFind(id);
    if (pending != m_pending.cend())
        return pending->chat;
    const auto unsaved = m_unsaved.constFind(id);
    if (unsaved != m_unsaved.cend())
        return unsaved->chat;
    return StoreLayout::readChat(m_dir, id);
}

QList<Chat> ChatStore::unwrittenChats() const
{
    QList<Chat> chats;
    for (const Pending &pending : m_pending)
        if (pending.chat)
            chats << *pending.chat;
    for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it)
        if (!m_pending.contains(it.key()))
            chats << it->chat;
    return chats;
}

std::optional<QString> ChatStore::saveFailure(const QUuid &id) const
{
    const auto unsaved = m_unsaved.constFind(id);
    if (unsaved == m_unsaved.cend())
        return std::nullopt;
    return unsaved->reason;
}

void ChatStore::retryFailedSaves()
{
    // Asked for by the person: every failed chat is written again after this
    // call, in its newest state. A newer save still on its way may fail just
    // as the kept one did, so it is no reason to wait.
    StoreTask task;
    for (auto unsaved = m_unsaved.cbegin(); unsaved != m_unsaved.cend(); ++unsaved) {
        const auto pending = m_pending.constFind(unsaved.key());
        if (pending == m_pending.cend())
            task.chats.append(unsaved->chat);
        else if (pending->chat)
            task.chats.append(*pending->chat);
    }
    if (task.chats.isEmpty())
        return;
    task.index = m_summaries;
    enqueue(std::move(task));
}

// The kept copies of failed chats, unless a newer state of one is already on
// its way.
QList<Chat> ChatStore::retries(const QUuid &except) const
{
    QList<Chat> chats;
    for (auto unsaved = m_unsaved.cbegin(); unsaved != m_unsaved.cend(); ++unsaved) {
        if (unsaved.key() != except && !m_pending.contains(unsaved.key()))
            chats.append(unsaved->chat);
    }
    return chats;
}

bool ChatStore::forgetUnsaved(const QList<QUuid> &ids)
{
    bool changed = false;
    for (const QUuid &id : ids)
        changed = m_unsaved.remove(id) || changed;
    return changed;
}

void ChatStore::drain()
{
    // The queue is serial, so once an empty task has run, so has every task
    // queued before it. Taking in the outcomes may queue more.
    releaseStartupTask();
    quint64 queued = 0;
    while (queued != m_lastTask) {
        queued = m_lastTask;
        QMetaObject::invokeMethod(
            m_writer, [] {}, Qt::BlockingQueuedConnection);
        takeOutcomes();
    }
}

void ChatStore::setFileObserver(FileObserver observer)
{
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, observer = std::move(observer)] { writer->setObserver(observer); },
        Qt::QueuedConnection);
}

quint64 ChatStore::enqueue(StoreTask task)
{
    // The tasks keep the order in which they were made.
    releaseStartupTask();
    task.number = ++m_lastTask;
    for (const Chat &chat : std::as_const(task.chats))
        m_pending.insert(chat.id, Pending{ chat, task.number });
    for (const QUuid &id : std::as_const(task.deletions))
        m_pending.insert(id, Pending{ std::nullopt, task.number });
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, task = std::move(task)] { writer->run(task); }, Qt::QueuedConnection);
    return m_lastTask;
}
