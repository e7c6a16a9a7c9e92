#include "core/store/StoreWriter.h"

#include "core/store/StoreLayout.h"
#include "core/store/StoreLog.h"
#include "core/util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

StoreWriter::StoreWriter(const QString &dir)
    : m_dir(dir)
{
}

void StoreWriter::stampAfter(const QDateTime &time)
{
    if (time.isValid() && (!m_lastStamp.isValid() || time > m_lastStamp))
        m_lastStamp = time;
}

void StoreWriter::run(const StoreTask &task)
{
    StoreOutcome outcome;
    outcome.task = task.number;
    for (const QString &path : task.leftovers)
        removeFile(path);
    outcome.unreadable = unreadable(task.check);
    writeChats(task.chats, outcome);
    // A chat that did not land is not listed, nor does it push others out.
    const bool indexWritten
        = task.index && outcome.failed.isEmpty() && writeIndex(*task.index, task.chats, outcome);
    for (const QUuid &id : task.deletions)
        m_deferred.insert(id);
    if (indexWritten) {
        deleteChats(m_deferred.values());
        m_deferred.clear();
    }
    post(outcome);
}

void StoreWriter::post(const StoreOutcome &outcome)
{
    {
        QMutexLocker lock(&m_mailboxLock);
        m_mailbox.append(outcome);
    }
    Q_EMIT outcomesReady();
}

QList<StoreOutcome> StoreWriter::takeOutcomes()
{
    QMutexLocker lock(&m_mailboxLock);
    return std::exchange(m_mailbox, {});
}

void StoreWriter::writeChats(const QList<Chat> &chats, StoreOutcome &outcome)
{
    for (const Chat &chat : chats) {
        const QString path = StoreLayout::chatPath(m_dir, chat.id);
        if (const auto failure = writeFile(path, chat.encode())) {
            qCWarning(lcStore) << "writing" << QFileInfo(path).fileName() << "failed:" << *failure;
            outcome.failed.append(UnsavedChat{ chat, *failure });
            continue;
        }
        // Written again, so listed again: no longer to be deleted.
        m_deferred.remove(chat.id);
        outcome.written.append(chat.id);
    }
}

bool StoreWriter::writeIndex(QList<ChatSummary> summaries, const QList<Chat> &written, StoreOutcome &outcome)
{
    summaries.removeIf([this](const ChatSummary &summary) {
        return !QFileInfo(StoreLayout::chatPath(m_dir, summary.id)).isFile();
    });
    for (const ChatSummary &summary : std::as_const(summaries))
        m_deferred.remove(summary.id);
    const auto failure = writeFile(StoreLayout::indexPath(m_dir), RecordCodec::encodeSummaries(summaries));
    if (!failure)
        return true;
    qCWarning(lcStore) << "writing index.json failed:" << *failure;
    // The chats are on disk but in no list yet: not saved, so written again
    // with the next save.
    outcome.written.clear();
    for (const Chat &chat : written)
        outcome.failed.append(UnsavedChat{ chat, *failure });
    return false;
}

void StoreWriter::deleteChats(const QList<QUuid> &ids)
{
    for (const QUuid &id : ids)
        removeFile(StoreLayout::chatPath(m_dir, id));
}

QList<QUuid> StoreWriter::unreadable(const QList<QUuid> &ids) const
{
    QList<QUuid> bad;
    for (const QUuid &id : ids) {
        if (!StoreLayout::readChat(m_dir, id))
            bad.append(id);
    }
    return bad;
}

std::optional<QString> StoreWriter::writeFile(const QString &path, const QByteArray &bytes)
{
    notify(ChatStore::FileOp::write, path);
    return AtomicFile::write(
        path, bytes, nextStamp(), [this, &path] { notify(ChatStore::FileOp::commit, path); });
}

void StoreWriter::removeFile(const QString &path)
{
    notify(ChatStore::FileOp::remove, path);
    if (!QFile::remove(path) && QFileInfo::exists(path))
        qCWarning(lcStore) << "removing" << QFileInfo(path).fileName() << "failed";
}

// Every file gets a later modification time than the one before, also
// within one tick of the file system's clock, so that start-up can tell a
// chat file written after the index from one written before it.
QDateTime StoreWriter::nextStamp()
{
    QDateTime stamp = QDateTime::currentDateTimeUtc();
    if (m_lastStamp.isValid() && stamp <= m_lastStamp)
        stamp = m_lastStamp.addMSecs(1);
    m_lastStamp = stamp;
    return stamp;
}

void StoreWriter::notify(ChatStore::FileOp op, const QString &path) const
{
    if (m_observer)
        m_observer(op, path);
}
