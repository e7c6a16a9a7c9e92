#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

// What the last measurement found out about the models, kept for showing
// beside the ladder: the refresh measured them at measuredAt (none before
// any measurement), probed some and read the published uptime of others.
struct LadderFigures {
    std::optional<QDateTime> measuredAt;
    QHash<QString, double> probeSeconds; // time to the probe's first event
    QHash<QString, double> uptimes; // percent

    bool operator==(const LadderFigures &) const = default;
};

// How far a network refresh has come, in steps: the catalogue, each
// statistics answer and each probe. total is 0 until the catalogue tells how
// many steps there will be.
struct RefreshProgress {
    int done = 0;
    int total = 0;

    bool operator==(const RefreshProgress &) const = default;
};
