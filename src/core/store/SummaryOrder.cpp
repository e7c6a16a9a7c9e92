#include "core/store/SummaryOrder.h"

#include <QSet>
#include <algorithm>

namespace SummaryOrder {

void sortNewestFirst(QList<ChatSummary> &summaries)
{
    std::stable_sort(summaries.begin(), summaries.end(),
        [](const ChatSummary &a, const ChatSummary &b) { return a.updated > b.updated; });
}

void dropRepeatedIds(QList<ChatSummary> &summaries)
{
    QSet<QUuid> seen;
    QList<ChatSummary> unique;
    unique.reserve(summaries.size());
    for (const ChatSummary &summary : std::as_const(summaries)) {
        if (seen.contains(summary.id))
            continue;
        seen.insert(summary.id);
        unique.append(summary);
    }
    summaries = std::move(unique);
}

} // namespace SummaryOrder
