#pragma once

#include "core/records/ChatRecords.h"

#include <QAbstractListModel>
#include <QList>
#include <QUuid>

// The open chat's messages as a list a view shows, one row per message that
// has something to show: every question, and every answer once it has text
// or reasoning (until then the thinking row stands in for it). It tells exactly which
// rows changed, so that while a reply streams in only its row is touched,
// also when a failed attempt's text is dropped and the row goes away again.
class ConversationModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        idRole = Qt::UserRole + 1, // QUuid
        roleRole, // "user" or "assistant"
        textRole,
        imagesRole, // QStringList of data URLs
        answeredByRole, // QString, empty when none
        noteRole, // QString, empty when none
        reasoningRole, // QString, empty when none
        cutRole, // QString: the cut's code, empty when the answer is whole
        // Only the last message, when it is an answer and no reply runs.
        canRegenerateRole,
    };
    Q_ENUM(Role)

    explicit ConversationModel(QObject *parent = nullptr);

    // Whether a message has a row.
    static bool isShown(const ChatMessage &message);

    // Brings the rows in line with the chat. Another chat resets the model;
    // otherwise rows are removed, inserted and changed one at a time, and a
    // row whose message did not change hears nothing.
    void sync(const Chat &chat, bool streaming);
    // The same for a chat in which only the last message changed (a reply
    // streaming in): touches that row alone, whatever the length of the
    // chat. Any other change goes through sync().
    void syncLast(const Chat &chat);

    const ChatMessage &message(int row) const { return m_rows.at(row); }
    int rowOf(const QUuid &id) const;
    bool canRegenerate(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void reset(const QUuid &chatId, QList<ChatMessage> rows, const QUuid &lastId, bool streaming);
    bool syncRows(const QList<ChatMessage> &wanted);
    void changeRow(int row, const ChatMessage &message);
    void syncRegenerate(const QUuid &lastId, bool streaming);

    QUuid m_chatId;
    QList<ChatMessage> m_rows;
    QUuid m_lastId; // the chat's last message, shown or not
    bool m_streaming = false;
};
