#pragma once

#include "service/ORError.h"
#include "service/ServiceTypes.h"

#include <QString>
#include <QStringList>
#include <optional>

// The words and decisions of a generation with fallback: why a model was
// left, what a failed generation tells the user, what an answer is signed
// with.
namespace GenerationRules {

// Why the first failing model was left, for the note "switched from <name>
// because <reason>".
QString switchReason(const ORError &error);
QString switchNote(const QString &firstFailedName, const QString &reason);

// One line of a failed generation's details: "<model name>: <error details>".
QString failureLine(const ORModel &model, const ORError &error);

// The issue of a generation that got no answer. lastError is empty when no
// model was tried at all.
AppIssue failureIssue(const std::optional<ORError> &lastError, const QStringList &failureLines);

// How a model is named under its answer: the catalogue's name when known,
// else the last non-empty "/" piece of the identifier (the whole identifier
// when there is none) with every ":free" removed.
QString displayName(const std::optional<ORModel> &known, const QString &modelId);

// Whether and for how long a failed model is put aside.
struct Cooling {
    bool cool = false;
    std::optional<double> retryAfter;
};
Cooling coolingFor(const ORError &error);

// A failure after which no further model is tried (a daily quota is the
// account's, not the model's).
bool endsGeneration(const ORError &error);

} // namespace GenerationRules
