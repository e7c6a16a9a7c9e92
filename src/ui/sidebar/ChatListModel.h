#pragma once

#include "core/records/ChatRecords.h"

#include <QAbstractListModel>
#include <QList>
#include <functional>

class ChatStore;

// The store's chat list as a list model, newest first. It follows the
// store's published summaries with the smallest change that turns the old
// list into the new one (a saved chat moves to the top, a deleted one is
// removed), so that the view keeps its selection and scroll position, and
// nothing is announced when the list did not change. A filter leaves out
// the chats it does not show, in the same way.
class ChatListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1 };

    explicit ChatListModel(ChatStore &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const ChatSummary &summary(int row) const { return m_rows.at(row); }
    // The row of that chat, or -1.
    int rowOf(const QUuid &id) const;

    // Shows only the chats the filter shows; follows the filter's answers
    // when told with refilter().
    void setFilter(std::function<bool(const QUuid &)> shows);
    void refilter();

private:
    QList<ChatSummary> shownSummaries() const;
    void follow(const QList<ChatSummary> &next);
    void removeMissing(const QList<ChatSummary> &next);
    void placeRow(int row, const ChatSummary &summary);

    ChatStore &m_store;
    QList<ChatSummary> m_rows;
    std::function<bool(const QUuid &)> m_shows;
};
