#pragma once

#include "core/records/ChatRecords.h"

// Rebuilds the chat list when the index is gone or damaged.
namespace IndexRecovery {

// Summaries of the chat files in dir that decode, newest first, at most
// limit. Only files named <UUID>.json (canonical upper-case) whose chat
// carries that id count; anything else is left alone.
QList<ChatSummary> summariesFromChatFiles(const QString &dir, qsizetype limit);

} // namespace IndexRecovery
