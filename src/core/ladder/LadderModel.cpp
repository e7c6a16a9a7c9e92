#include "core/ladder/LadderModel.h"

#include "core/conversation/ChatViewModel.h"
#include "core/ranker/ModelRanker.h"

#include <limits>

namespace {

QStringList idsOf(const QList<LadderRow> &rows)
{
    QStringList ids;
    for (const LadderRow &row : rows)
        ids.append(row.id);
    return ids;
}

QString cell(const LadderRow &row, int column)
{
    switch (column) {
    case LadderModel::nameColumn:
        return row.name;
    case LadderModel::firstEventColumn:
        return row.firstEvent;
    case LadderModel::uptimeColumn:
        return row.uptime;
    case LadderModel::contextColumn:
        return row.context;
    case LadderModel::imagesColumn:
        return row.images;
    default:
        return row.status();
    }
}

} // namespace

LadderModel::LadderModel(ModelRanker &ranker, ChatViewModel &chat, QObject *parent)
    : QAbstractTableModel(parent)
    , m_ranker(ranker)
    , m_chat(chat)
{
    m_tick.setSingleShot(true);
    // A coarse timer may fire a little early; the text is then read again
    // on the next tick, scheduled from the clock.
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &LadderModel::update);
    for (auto signal : { &ModelRanker::freeModelsChanged, &ModelRanker::ladderIDsChanged,
             &ModelRanker::coolingChanged, &ModelRanker::figuresChanged, &ModelRanker::noteChanged,
             &ModelRanker::isRefreshingChanged, &ModelRanker::progressChanged })
        connect(&ranker, signal, this, &LadderModel::update);
    // The pin and who answered last: the chat's changes, never a flush of
    // streamed text. update() only announces what differs.
    connect(&chat, &ChatViewModel::chatChanged, this, &LadderModel::update);
    update();
}

int LadderModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_snapshot.rows.size());
}

int LadderModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant LadderModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LadderRow &row = m_snapshot.rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return cell(row, index.column());
    case Qt::AccessibleDescriptionRole:
        return index.column() == nameColumn ? QVariant(row.spoken()) : QVariant();
    case Qt::ToolTipRole:
        return index.column() == nameColumn ? QVariant(row.id) : QVariant();
    case isNextRole:
        return row.isNext;
    default:
        return {};
    }
}

QVariant LadderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    static const QStringList titles{ QStringLiteral("Model"), QStringLiteral("First event"),
        QStringLiteral("Uptime"), QStringLiteral("Context"), QStringLiteral("Images"),
        QStringLiteral("Status") };
    return titles.value(section);
}

const std::optional<QString> &LadderModel::note() const
{
    return m_ranker.note();
}

bool LadderModel::isRefreshing() const
{
    return m_ranker.isRefreshing();
}

const RefreshProgress &LadderModel::progress() const
{
    return m_ranker.progress();
}

void LadderModel::setClock(Clock now)
{
    m_now = std::move(now);
    update();
}

void LadderModel::update()
{
    adopt(LadderSnapshot::of(m_ranker, m_chat.chat(), m_now()));
    m_tick.stop();
    if (m_snapshot.changesIn)
        m_tick.start(int(std::min<qint64>(m_snapshot.changesIn->count(), std::numeric_limits<int>::max())));
}

std::optional<std::chrono::milliseconds> LadderModel::nextTick() const
{
    return m_snapshot.changesIn;
}

void LadderModel::adopt(LadderSnapshot snapshot)
{
    const Texts texts{ snapshot.measured, snapshot.nextOffLadder, snapshot.lastAnswerOffLadder,
        m_ranker.note(), m_ranker.isRefreshing(), m_ranker.progress() };
    const bool textsDiffer = texts != m_texts;
    m_texts = texts;
    if (idsOf(snapshot.rows) != idsOf(m_snapshot.rows)) {
        beginResetModel();
        m_snapshot = std::move(snapshot);
        endResetModel();
    } else {
        const LadderSnapshot old = std::exchange(m_snapshot, std::move(snapshot));
        for (int i = 0; i < m_snapshot.rows.size(); ++i) {
            if (m_snapshot.rows.at(i) != old.rows.at(i))
                Q_EMIT dataChanged(index(i, 0), index(i, columns - 1));
        }
    }
    if (textsDiffer)
        Q_EMIT textsChanged();
}
