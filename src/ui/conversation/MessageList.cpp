#include "conversation/MessageList.h"

#include "conversation/MessageRow.h"

#include <QTimer>
#include <QVBoxLayout>

MessageList::MessageList(QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(22);
}

void MessageList::sync(const QList<ChatMessage> &visible, const QUuid &lastId, bool canRegenerate)
{
    if (!m_synced) {
        m_synced = true;
        deferOlder(visible);
    }
    m_visible = visible;
    m_lastId = lastId;
    m_canRegenerate = canRegenerate;

    QList<MessageRow *> wanted;
    wanted.reserve(visible.size());
    for (const ChatMessage &message : visible) {
        if (m_deferredSet.contains(message.id))
            continue;
        MessageRow *row = m_rows.value(message.id);
        if (row)
            row->setMessage(message); // nothing happens when it is unchanged
        else
            row = makeRow(message);
        updateRowState(row);
        wanted.append(row);
    }
    placeRows(wanted);
}

void MessageList::deferOlder(const QList<ChatMessage> &visible)
{
    const qsizetype deferred = visible.size() - firstRows;
    for (qsizetype i = 0; i < deferred; ++i) {
        m_deferred.append(visible[i].id);
        m_deferredSet.insert(visible[i].id);
    }
    if (!m_deferred.isEmpty())
        QTimer::singleShot(0, this, &MessageList::buildOlderBatch);
}

// Builds the newest of the deferred rows and puts them above the others.
void MessageList::buildOlderBatch()
{
    if (m_deferred.isEmpty())
        return;
    const qsizetype from = qMax<qsizetype>(0, m_deferred.size() - batchRows);
    const QList<QUuid> batch = m_deferred.mid(from);
    m_deferred.resize(from);
    for (const QUuid &id : batch)
        m_deferredSet.remove(id);

    QHash<QUuid, const ChatMessage *> current;
    for (const ChatMessage &message : std::as_const(m_visible))
        current.insert(message.id, &message);
    Q_EMIT aboutToAddOlderRows();
    int at = 0;
    for (const QUuid &id : batch) {
        const ChatMessage *message = current.value(id);
        if (!message)
            continue; // removed meanwhile
        MessageRow *row = makeRow(*message);
        updateRowState(row);
        m_layout->insertWidget(at, row);
        m_order.insert(at, row);
        ++at;
    }
    Q_EMIT olderRowsAdded();
    if (m_deferred.isEmpty())
        Q_EMIT completed();
    else
        QTimer::singleShot(0, this, &MessageList::buildOlderBatch);
}

MessageRow *MessageList::makeRow(const ChatMessage &message)
{
    auto *row = new MessageRow(message, this);
    // Shown now rather than when the layout gets to it, so that its height
    // counts in the very next layout pass.
    row->setVisible(true);
    connect(row, &MessageRow::regenerateRequested, this, &MessageList::regenerateRequested);
    m_rows.insert(message.id, row);
    return row;
}

void MessageList::dropRow(MessageRow *row)
{
    m_rows.remove(row->message().id);
    m_layout->removeWidget(row);
    row->hide();
    // Later: the change may come from one of the row's own buttons.
    row->deleteLater();
}

// Makes the laid-out rows (after the deferred ones) be `wanted`, in order.
// In the usual case (text grew, a message was added or removed at the end)
// this touches only the end of the list.
void MessageList::placeRows(const QList<MessageRow *> &wanted)
{
    const QSet<MessageRow *> keep(wanted.cbegin(), wanted.cend());
    for (qsizetype i = m_order.size() - 1; i >= 0; --i) {
        if (!keep.contains(m_order[i])) {
            dropRow(m_order[i]);
            m_order.removeAt(i);
        }
    }
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        if (i < m_order.size() && m_order[i] == wanted[i])
            continue;
        const qsizetype old = m_order.indexOf(wanted[i]);
        if (old >= 0) {
            m_layout->removeWidget(wanted[i]);
            m_order.removeAt(old);
        }
        m_layout->insertWidget(int(i), wanted[i]);
        m_order.insert(i, wanted[i]);
    }
}

void MessageList::updateRowState(MessageRow *row)
{
    row->setIsLast(row->message().id == m_lastId);
    row->setCanRegenerate(m_canRegenerate);
}
