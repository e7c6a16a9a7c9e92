#pragma once

#include "core/records/ChatRecords.h"
#include "core/service/ServiceTypes.h"

#include <QList>
#include <QUuid>

// Chooses the newest part of a conversation that fits a model's context,
// estimating three user-perceived characters per token and 1000 tokens per
// image. The newest message is always sent, however long; the history sent
// never starts with an answer unless the answer is all there is.
namespace HistoryWindow {

constexpr int assumedContext = 8000; // when a model reports 0 or less
constexpr double historyShare = 0.7;
constexpr qsizetype reserve = 1000;
constexpr qsizetype charsPerToken = 3;
constexpr qsizetype imageCost = 1000;
constexpr qsizetype messageCost = 1;

// The token budget left for messages after the reserve and the system prompt.
qsizetype remainder(const ORModel &model, const QString &systemPrompt);

// The messages to send to model, oldest first, leaving out the message
// `excluding` (the reply being filled).
QList<APIMessage> select(const QList<ChatMessage> &messages, const ORModel &model,
    const QString &systemPrompt, const QUuid &excluding);

} // namespace HistoryWindow
