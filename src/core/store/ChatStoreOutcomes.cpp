// What the writer reports back: chats written or not, chat files that do
// not decode.

#include "core/store/ChatStore.h"
#include "core/store/StoreLog.h"
#include "core/store/StoreWriter.h"

void ChatStore::takeOutcomes()
{
    bool failuresChanged = false;
    for (const StoreOutcome &outcome : m_writer->takeOutcomes())
        failuresChanged = apply(outcome) || failuresChanged;
    if (failuresChanged)
        Q_EMIT saveFailuresChanged();
}

bool ChatStore::apply(const StoreOutcome &outcome)
{
    bool failuresChanged = forgetUnsaved(outcome.written);
    for (const UnsavedChat &unsaved : outcome.failed)
        failuresChanged = keepUnsaved(outcome.task, unsaved) || failuresChanged;
    if (!outcome.unreadable.isEmpty())
        dropUnreadable(outcome.unreadable);
    forgetWrittenUpTo(outcome.task);
    return failuresChanged;
}

bool ChatStore::keepUnsaved(quint64 task, const UnsavedChat &unsaved)
{
    // A newer state of the chat is on its way, or it was removed meanwhile.
    const auto pending = m_pending.constFind(unsaved.chat.id);
    if (pending != m_pending.cend() && pending->task > task)
        return false;
    m_unsaved.insert(unsaved.chat.id, unsaved);
    return true;
}

void ChatStore::dropUnreadable(const QList<QUuid> &ids)
{
    const qsizetype dropped = m_summaries.removeIf([this, &ids](const ChatSummary &summary) {
        return ids.contains(summary.id) && !m_pending.contains(summary.id) && !m_unsaved.contains(summary.id);
    });
    if (dropped == 0)
        return;
    qCWarning(lcStore) << dropped << "listed chat files do not decode; they are no longer listed";
    StoreTask task;
    task.index = m_summaries;
    enqueue(std::move(task));
    Q_EMIT summariesChanged();
}

void ChatStore::forgetWrittenUpTo(quint64 task)
{
    m_pending.removeIf([task](const auto &entry) { return entry.value().task <= task; });
}
