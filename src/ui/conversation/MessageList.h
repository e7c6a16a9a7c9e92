#pragma once

#include "core/records/ChatRecords.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QUuid>
#include <QWidget>

class MessageRow;
class QVBoxLayout;

// The rows of one chat, one per visible message, kept by message id: a
// change of the chat touches only the rows whose message changed, adds rows
// for new messages and drops rows of removed ones. A chat opened with many
// messages shows its last rows at once and builds the older ones a few at a
// time on later turns of the event loop, so that opening it never stalls.
class MessageList : public QWidget
{
    Q_OBJECT
public:
    static constexpr int firstRows = 8; // built at once when a chat opens
    static constexpr int batchMs = 10; // building older rows per later turn
    static constexpr int firstBatchDelayMs = 30;

    explicit MessageList(QWidget *parent = nullptr);

    // Shows these messages (the visible ones, in chat order). The first call
    // may defer the older rows.
    void sync(const QList<ChatMessage> &visible, const QUuid &lastId, bool canRegenerate);

    QList<MessageRow *> rows() const { return m_older + m_order; }
    MessageRow *row(const QUuid &id) const { return m_rows.value(id); }
    bool isComplete() const { return m_deferred.isEmpty(); }

Q_SIGNALS:
    void regenerateRequested();
    // Older rows are about to be added at the top, and have been.
    void aboutToAddOlderRows();
    void olderRowsAdded();
    void completed();

private:
    void deferOlder(const QList<ChatMessage> &visible);
    void buildOlderBatch();
    MessageRow *makeRow(const ChatMessage &message, QWidget *parent);
    void dropRow(MessageRow *row);
    void placeRows(const QList<MessageRow *> &wanted);
    void updateRowState(MessageRow *row);

    QVBoxLayout *m_layout;
    QHash<QUuid, MessageRow *> m_rows;
    QList<MessageRow *> m_older; // built later, in boxes at the top
    QSet<MessageRow *> m_olderSet;
    int m_boxes = 0;
    QList<MessageRow *> m_order; // the others, laid out one by one after the boxes
    QList<QUuid> m_deferred; // oldest messages still without a row, in order
    QSet<QUuid> m_deferredSet;
    QList<ChatMessage> m_visible;
    QUuid m_lastId;
    bool m_canRegenerate = false;
    bool m_synced = false;
};
