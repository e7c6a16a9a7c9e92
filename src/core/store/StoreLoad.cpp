#include "core/store/StoreLoad.h"

#include "core/store/FolderScan.h"
#include "core/store/IndexRecovery.h"
#include "core/store/StoreLayout.h"
#include "core/store/SummaryOrder.h"

#include <QFile>
#include <QSet>

namespace StoreLoad {

namespace {

std::optional<QList<ChatSummary>> readIndex(const QString &dir)
{
    QFile file(StoreLayout::indexPath(dir));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return RecordCodec::decodeSummaries(file.readAll());
}

// Chat files written after the index hold a newer state than it lists, or
// are not listed at all: take their summaries from the files.
void takeNewerFiles(const QString &dir, const FolderScan &scan, QList<ChatSummary> &listed, QSet<QUuid> &read)
{
    for (auto file = scan.chatsModified.cbegin(); file != scan.chatsModified.cend(); ++file) {
        if (file.value() <= *scan.indexModified)
            continue;
        const QUuid id = file.key();
        const std::optional<Chat> chat = StoreLayout::readChat(dir, id);
        listed.removeIf([&id](const ChatSummary &summary) { return summary.id == id; });
        if (chat) {
            listed.append(chat->summary());
            read.insert(id);
        }
    }
}

} // namespace

Result read(const QString &dir, qsizetype limit)
{
    const FolderScan scan = FolderScan::of(dir);
    Result result;
    result.leftovers = scan.leftovers;
    result.latest = scan.latest;

    std::optional<QList<ChatSummary>> index = scan.indexModified ? readIndex(dir) : std::nullopt;
    if (!index) {
        // Without a usable index the chat files themselves are the record
        // of what the user has; list them again rather than hide them.
        result.summaries = IndexRecovery::summariesFromChatFiles(dir, limit);
        result.indexStale = !result.summaries.isEmpty();
        return result;
    }

    QList<ChatSummary> listed = *index;
    SummaryOrder::sortNewestFirst(listed);
    SummaryOrder::dropRepeatedIds(listed);
    listed.removeIf([&scan](const ChatSummary &summary) { return !scan.chatsModified.contains(summary.id); });
    QSet<QUuid> read;
    takeNewerFiles(dir, scan, listed, read);
    SummaryOrder::sortNewestFirst(listed);
    // A lost save may have been one that pushed the oldest chat out; its file
    // stays, unlisted, as after any eviction whose delete did not run.
    if (listed.size() > limit)
        listed.resize(limit);
    result.indexStale = listed != *index;
    for (const ChatSummary &summary : std::as_const(listed)) {
        if (!read.contains(summary.id))
            result.unread.append(summary.id);
    }
    result.summaries = std::move(listed);
    return result;
}

} // namespace StoreLoad
