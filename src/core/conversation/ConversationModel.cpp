#include "core/conversation/ConversationModel.h"

#include <QSet>

namespace {

const QString userRole = QStringLiteral("user");
const QString assistantRole = QStringLiteral("assistant");

// Copies of a message share their strings: the pointer settles most
// comparisons without reading a long reply.
bool sameText(const QString &a, const QString &b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

QList<int> changedRoles(const ChatMessage &was, const ChatMessage &is)
{
    QList<int> roles;
    if (!sameText(was.text, is.text))
        roles.append(ConversationModel::textRole);
    if (was.images != is.images)
        roles.append(ConversationModel::imagesRole);
    if (was.answeredBy != is.answeredBy)
        roles.append(ConversationModel::answeredByRole);
    if (was.note != is.note)
        roles.append(ConversationModel::noteRole);
    if (was.role != is.role)
        roles.append(ConversationModel::roleRole);
    if (!sameText(was.reasoning.value_or(QString()), is.reasoning.value_or(QString()))
        || was.reasoningSeconds != is.reasoningSeconds)
        roles.append(ConversationModel::reasoningRole);
    if (was.cut != is.cut || was.modelId != is.modelId)
        roles.append(ConversationModel::cutRole);
    return roles;
}

} // namespace

ConversationModel::ConversationModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

bool ConversationModel::isShown(const ChatMessage &message)
{
    return message.role == userRole || !message.text.isEmpty()
        || !message.reasoning.value_or(QString()).isEmpty();
}

void ConversationModel::sync(const Chat &chat, bool streaming)
{
    QList<ChatMessage> wanted;
    wanted.reserve(chat.messages.size());
    for (const ChatMessage &message : chat.messages) {
        if (isShown(message))
            wanted.append(message);
    }
    const QUuid lastId = chat.messages.isEmpty() ? QUuid() : chat.messages.last().id;
    if (chat.id != m_chatId || !syncRows(wanted)) {
        reset(chat.id, std::move(wanted), lastId, streaming);
        return;
    }
    syncRegenerate(lastId, streaming);
}

void ConversationModel::syncLast(const Chat &chat)
{
    if (chat.id != m_chatId || chat.messages.isEmpty()) {
        sync(chat, m_streaming);
        return;
    }
    const ChatMessage &last = chat.messages.last();
    const int lastRow = int(m_rows.size()) - 1;
    const bool hasRow = lastRow >= 0 && m_rows[lastRow].id == last.id;
    if (hasRow && isShown(last)) {
        changeRow(lastRow, last);
    } else if (hasRow) {
        beginRemoveRows(QModelIndex(), lastRow, lastRow);
        m_rows.removeLast();
        endRemoveRows();
    } else if (isShown(last)) {
        beginInsertRows(QModelIndex(), lastRow + 1, lastRow + 1);
        m_rows.append(last);
        endInsertRows();
    }
}

void ConversationModel::reset(
    const QUuid &chatId, QList<ChatMessage> rows, const QUuid &lastId, bool streaming)
{
    beginResetModel();
    m_chatId = chatId;
    m_rows = std::move(rows);
    m_lastId = lastId;
    m_streaming = streaming;
    endResetModel();
}

// Messages never move within a chat: they are added (mostly at the end),
// removed, or change. False when the order says otherwise, and the caller
// starts afresh.
bool ConversationModel::syncRows(const QList<ChatMessage> &wanted)
{
    QSet<QUuid> keep;
    keep.reserve(wanted.size());
    for (const ChatMessage &message : wanted)
        keep.insert(message.id);
    for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
        if (keep.contains(m_rows[row].id))
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_rows.removeAt(row);
        endRemoveRows();
    }
    QSet<QUuid> present;
    present.reserve(m_rows.size());
    for (const ChatMessage &message : std::as_const(m_rows))
        present.insert(message.id);
    for (int row = 0; row < wanted.size(); ++row) {
        const ChatMessage &message = wanted[row];
        if (row < m_rows.size() && m_rows[row].id == message.id) {
            changeRow(row, message);
            continue;
        }
        if (present.contains(message.id))
            return false; // moved
        beginInsertRows(QModelIndex(), row, row);
        m_rows.insert(row, message);
        endInsertRows();
    }
    return true;
}

void ConversationModel::changeRow(int row, const ChatMessage &message)
{
    const QList<int> roles = changedRoles(m_rows[row], message);
    m_rows[row] = message; // shares the strings again, even when equal
    if (roles.isEmpty())
        return;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, roles);
}

void ConversationModel::syncRegenerate(const QUuid &lastId, bool streaming)
{
    const int before = canRegenerate(rowOf(m_lastId)) ? rowOf(m_lastId) : -1;
    m_lastId = lastId;
    m_streaming = streaming;
    const int after = rowOf(lastId);
    const int now = canRegenerate(after) ? after : -1;
    if (before == now)
        return;
    for (int row : { before, now }) {
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), { canRegenerateRole });
    }
}

int ConversationModel::rowOf(const QUuid &id) const
{
    // Almost always asked for one of the last rows.
    for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
        if (m_rows[row].id == id)
            return row;
    }
    return -1;
}

bool ConversationModel::canRegenerate(int row) const
{
    return row >= 0 && row < m_rows.size() && !m_streaming && m_rows[row].id == m_lastId
        && m_rows[row].role == assistantRole;
}

int ConversationModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ConversationModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ChatMessage &message = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case textRole:
        return message.text;
    case idRole:
        return message.id;
    case roleRole:
        return message.role;
    case imagesRole:
        return message.images;
    case answeredByRole:
        return message.answeredBy.value_or(QString());
    case noteRole:
        return message.note.value_or(QString());
    case reasoningRole:
        return message.reasoning.value_or(QString());
    case cutRole:
        return message.cut ? RecordCodec::cutCode(*message.cut) : QString();
    case canRegenerateRole:
        return canRegenerate(index.row());
    default:
        return {};
    }
}

QHash<int, QByteArray> ConversationModel::roleNames() const
{
    return {
        { idRole, "id" },
        { roleRole, "role" },
        { textRole, "text" },
        { imagesRole, "images" },
        { answeredByRole, "answeredBy" },
        { noteRole, "note" },
        { reasoningRole, "reasoning" },
        { cutRole, "cut" },
        { canRegenerateRole, "canRegenerate" },
    };
}
