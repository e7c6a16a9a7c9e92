#pragma once

#include "core/records/ChatRecords.h"

namespace SummaryOrder {

// Newest first by `updated`; equal dates keep their order.
void sortNewestFirst(QList<ChatSummary> &summaries);

// Keeps the first entry of each id (after sorting: the newest).
void dropRepeatedIds(QList<ChatSummary> &summaries);

} // namespace SummaryOrder
