#include "ui/conversation/MessageList.h"

#include "ui/conversation/MessageRow.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QVBoxLayout>

MessageList::MessageList(QWidget *parent)
    : QWidget(parent)
    , m_layout(new QVBoxLayout(this))
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
            row = makeRow(message, this);
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
    // The first paint of the newest rows comes first.
    if (!m_deferred.isEmpty())
        QTimer::singleShot(firstBatchDelayMs, this, &MessageList::buildOlderBatch);
}

// Builds the newest of the deferred rows, as many as fit in a short slice
// of time, and puts them above the others. They are made inside a box that
// is not on screen yet, and the box is shown once: showing each row in the
// visible list would lay out the whole list again for every row.
void MessageList::buildOlderBatch()
{
    if (m_deferred.isEmpty())
        return;
    QHash<QUuid, const ChatMessage *> current;
    for (const ChatMessage &message : std::as_const(m_visible))
        current.insert(message.id, &message);
    auto *box = new QWidget(this);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(m_layout->spacing());
    QList<MessageRow *> rows;
    QElapsedTimer slice;
    slice.start();
    while (!m_deferred.isEmpty() && slice.elapsed() < batchMs) {
        const QUuid id = m_deferred.takeLast();
        m_deferredSet.remove(id);
        const ChatMessage *message = current.value(id);
        if (!message)
            continue; // removed meanwhile
        MessageRow *row = makeRow(*message, box);
        updateRowState(row);
        boxLayout->insertWidget(0, row);
        rows.prepend(row);
    }
    Q_EMIT aboutToAddOlderRows();
    m_layout->insertWidget(0, box);
    ++m_boxes;
    m_older = rows + m_older;
    for (MessageRow *row : rows)
        m_olderSet.insert(row);
    box->setVisible(true);
    Q_EMIT olderRowsAdded();
    if (m_deferred.isEmpty())
        Q_EMIT completed();
    else
        QTimer::singleShot(0, this, &MessageList::buildOlderBatch);
}

MessageRow *MessageList::makeRow(const ChatMessage &message, QWidget *parent)
{
    auto *row = new MessageRow(message, parent);
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

// Makes the rows be `wanted`, in order. Older rows (built later, in their
// boxes at the top) only ever leave; the newer rows are laid out one by one
// after the boxes. In the usual case (text grew, a message was added or
// removed at the end) this touches only the end of the list.
void MessageList::placeRows(const QList<MessageRow *> &wanted)
{
    const QSet<MessageRow *> keep(wanted.cbegin(), wanted.cend());
    for (qsizetype i = m_older.size() - 1; i >= 0; --i) {
        if (!keep.contains(m_older[i])) {
            m_olderSet.remove(m_older[i]);
            dropRow(m_older.takeAt(i));
        }
    }
    for (qsizetype i = m_order.size() - 1; i >= 0; --i) {
        if (!keep.contains(m_order[i]))
            dropRow(m_order.takeAt(i));
    }
    qsizetype at = 0; // position among the newer rows
    for (MessageRow *row : wanted) {
        if (m_olderSet.contains(row))
            continue;
        if (at < m_order.size() && m_order[at] == row) {
            ++at;
            continue;
        }
        const qsizetype old = m_order.indexOf(row);
        if (old >= 0) {
            m_layout->removeWidget(row);
            m_order.removeAt(old);
        }
        m_layout->insertWidget(int(m_boxes + at), row);
        m_order.insert(at, row);
        ++at;
    }
}

void MessageList::updateRowState(MessageRow *row)
{
    row->setIsLast(row->message().id == m_lastId);
    row->setCanRegenerate(m_canRegenerate);
}
