#include "ui/sidebar/ChatListModel.h"

#include "core/store/ChatStore.h"
#include "core/util/TextUtil.h"

#include <QSet>

ChatListModel::ChatListModel(ChatStore &store, QObject *parent)
    : QAbstractListModel(parent)
    , m_store(store)
{
    m_rows = store.summaries();
    connect(&store, &ChatStore::summariesChanged, this, &ChatListModel::refilter);
}

int ChatListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ChatListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ChatSummary &summary = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return summary.title;
    case Qt::ToolTipRole:
        return TextUtil::plainToolTip(summary.title);
    case IdRole:
        return summary.id;
    default:
        return {};
    }
}

int ChatListModel::rowOf(const QUuid &id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].id == id)
            return row;
    }
    return -1;
}

void ChatListModel::setFilter(std::function<bool(const QUuid &)> shows)
{
    m_shows = std::move(shows);
    refilter();
}

void ChatListModel::refilter()
{
    follow(shownSummaries());
}

QList<ChatSummary> ChatListModel::shownSummaries() const
{
    QList<ChatSummary> shown = m_store.summaries();
    if (m_shows)
        shown.removeIf([this](const ChatSummary &summary) { return !m_shows(summary.id); });
    return shown;
}

void ChatListModel::follow(const QList<ChatSummary> &next)
{
    if (next == m_rows)
        return;
    removeMissing(next);
    for (int row = 0; row < next.size(); ++row)
        placeRow(row, next[row]);
}

void ChatListModel::removeMissing(const QList<ChatSummary> &next)
{
    QSet<QUuid> kept;
    for (const ChatSummary &summary : next)
        kept.insert(summary.id);
    for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
        if (kept.contains(m_rows[row].id))
            continue;
        beginRemoveRows({}, row, row);
        m_rows.removeAt(row);
        endRemoveRows();
    }
}

// Makes row `row` hold summary: in place, moved up from further down, or
// inserted. Rows above it already match the new list.
void ChatListModel::placeRow(int row, const ChatSummary &summary)
{
    if (row < m_rows.size() && m_rows[row].id == summary.id) {
        if (m_rows[row] != summary) {
            const bool titleChanged = m_rows[row].title != summary.title;
            m_rows[row] = summary;
            if (titleChanged)
                Q_EMIT dataChanged(index(row), index(row));
        }
        return;
    }
    const int from = rowOf(summary.id);
    if (from > row) {
        beginMoveRows({}, from, from, {}, row);
        m_rows.move(from, row);
        endMoveRows();
        const bool titleChanged = m_rows[row].title != summary.title;
        m_rows[row] = summary;
        if (titleChanged)
            Q_EMIT dataChanged(index(row), index(row));
        return;
    }
    beginInsertRows({}, row, row);
    m_rows.insert(row, summary);
    endInsertRows();
}
