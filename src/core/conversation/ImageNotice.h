#pragma once

#include "core/service/ServiceTypes.h"

#include <QString>
#include <optional>

// The warning that the open chat is pinned to a model that cannot see images,
// with a free model that can, when there is one.
struct ImageNotice {
    static inline const QString text = QStringLiteral("This model can't see images.");

    QString message = text;
    std::optional<ORModel> switchTo;

    bool operator==(const ImageNotice &) const = default;
};
