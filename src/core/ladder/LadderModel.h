#pragma once

#include "core/ladder/LadderRows.h"
#include "core/ranker/LadderFigures.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QTimer>
#include <functional>
#include <optional>

class ChatViewModel;
class ModelRanker;

// The ranker's ladder as a table a person reads, live: one row per rung with
// its measured figures and whether it cools down, which rung the open chat's
// next message goes to, which one answered it last, and when the ladder was
// measured. It follows the ranker and the open chat as they change, and the
// clock for the countdowns, waking only when a text is due to change.
// Main thread only.
class LadderModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { nameColumn, firstEventColumn, uptimeColumn, contextColumn, imagesColumn, statusColumn };
    static constexpr int columns = statusColumn + 1;
    enum Role { isNextRole = Qt::UserRole + 1 };
    using Clock = std::function<QDateTime()>;

    static inline const QString refreshTitle = QStringLiteral("Refresh list");
    static inline const QString refreshingTitle = QStringLiteral("Refreshing…");

    LadderModel(ModelRanker &ranker, ChatViewModel &chat, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const QList<LadderRow> &rows() const { return m_snapshot.rows; }
    const QString &measured() const { return m_snapshot.measured; }
    const std::optional<QString> &nextOffLadder() const { return m_snapshot.nextOffLadder; }
    const std::optional<QString> &lastAnswerOffLadder() const { return m_snapshot.lastAnswerOffLadder; }
    const std::optional<QString> &note() const;
    bool isRefreshing() const;
    const RefreshProgress &progress() const;
    QString refreshText() const { return isRefreshing() ? refreshingTitle : refreshTitle; }

    // Test seam: the clock of the countdowns; reads everything again.
    void setClock(Clock now);
    // Reads the ranker, the chat and the clock again; the timer does this
    // when a text is due to change.
    void update();
    // How long until the clock alone changes a text; none when nothing counts.
    std::optional<std::chrono::milliseconds> nextTick() const;

Q_SIGNALS:
    // The texts around the rows: measured, next and last answer off the
    // ladder, the note, the refresh state.
    void textsChanged();

private:
    void adopt(LadderSnapshot snapshot);

    // What textsChanged announces, as last announced.
    struct Texts {
        QString measured;
        std::optional<QString> nextOffLadder;
        std::optional<QString> lastAnswerOffLadder;
        std::optional<QString> note;
        bool isRefreshing = false;
        RefreshProgress progress;
        bool operator==(const Texts &) const = default;
    };

    ModelRanker &m_ranker;
    ChatViewModel &m_chat;
    Clock m_now = [] { return QDateTime::currentDateTimeUtc(); };
    LadderSnapshot m_snapshot;
    Texts m_texts;
    QTimer m_tick;
};
