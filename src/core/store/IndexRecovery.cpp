#include "core/store/IndexRecovery.h"

#include "core/store/StoreLayout.h"
#include "core/store/SummaryOrder.h"

#include <QDir>

namespace IndexRecovery {

QList<ChatSummary> summariesFromChatFiles(const QString &dir, qsizetype limit)
{
    const QStringList names = QDir(dir).entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name);
    QList<ChatSummary> summaries;
    for (const QString &name : names) {
        const auto id = StoreLayout::chatIdOfFileName(name);
        if (!id)
            continue;
        if (const auto chat = StoreLayout::readChat(dir, *id))
            summaries.append(chat->summary());
    }
    SummaryOrder::sortNewestFirst(summaries);
    if (summaries.size() > limit)
        summaries.resize(limit);
    return summaries;
}

} // namespace IndexRecovery
