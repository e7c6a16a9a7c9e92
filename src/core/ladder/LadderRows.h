#pragma once

#include "core/records/ChatRecords.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <chrono>
#include <optional>

class ModelRanker;

// One rung of the ladder as it reads: every figure already in words.
struct LadderRow {
    QString id;
    QString name;
    QString firstEvent;
    QString uptime;
    QString context;
    QString images; // "yes" or "no"
    std::optional<QString> cooling; // while it cools down
    bool isNext = false; // the open chat's next message goes here
    bool answeredLast = false; // the open chat's last answer came from here

    // "next · answered last · cooling down · 4 min left", as far as each holds.
    QString status() const;
    // The whole row as one sentence, for a screen reader.
    QString spoken() const;

    bool operator==(const LadderRow &) const = default;
};

// The ladder, the texts around it, and when any of them next reads
// differently by the clock alone.
struct LadderSnapshot {
    QList<LadderRow> rows;
    QString measured; // "measured 6 minutes ago"
    std::optional<QString> nextOffLadder; // "Next: Name", for a pinned model off the ladder
    std::optional<QString> lastAnswerOffLadder; // "Last answer: Name", for a name off the ladder
    std::optional<std::chrono::milliseconds> changesIn;

    static LadderSnapshot of(const ModelRanker &ranker, const Chat &chat, const QDateTime &now);
};
