#pragma once

#include "core/service/ORError.h"
#include "core/util/Operation.h"

#include <optional>

class ModelRanker;

// A caller's hold on a refresh it asked the ranker for, an Operation. It
// finishes when that refresh ends, with ORError::unauthorized when the
// service rejected the key (the catalogue or any probe), else with nothing:
// every other problem shows only as the ranker's note. cancel() silences
// this hold only; the refresh goes on for the ranker (reset() stops it).
class RefreshRequest : public Operation
{
    Q_OBJECT
Q_SIGNALS:
    void finished(const std::optional<ORError> &rejection);

private:
    friend class ModelRanker;
    explicit RefreshRequest(QObject *parent)
        : Operation(parent)
    {
    }

    void finish(const std::optional<ORError> &rejection)
    {
        deliver([this, &rejection] { Q_EMIT finished(rejection); });
    }
    void finishLater()
    {
        deliverLater([this] { Q_EMIT finished(std::nullopt); });
    }
};
