#include "store/IndexRecovery.h"

#include "store/SummaryOrder.h"

#include <QDir>
#include <QFile>

namespace IndexRecovery {

namespace {

std::optional<QUuid> chatIdOfFileName(const QString &name)
{
    static const QString suffix = QStringLiteral(".json");
    if (!name.endsWith(suffix))
        return std::nullopt;
    const auto id = RecordCodec::parseUuid(name.chopped(suffix.size()));
    // The store names files from the parsed id; any other spelling is not one of ours.
    if (!id || RecordCodec::uuidText(*id) + suffix != name)
        return std::nullopt;
    return id;
}

std::optional<ChatSummary> summaryOfChatFile(const QString &path, const QUuid &id)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto chat = Chat::decode(file.readAll());
    if (!chat || chat->id != id)
        return std::nullopt;
    return chat->summary();
}

} // namespace

QList<ChatSummary> summariesFromChatFiles(const QString &dir, qsizetype limit)
{
    const QDir folder(dir);
    const QStringList names = folder.entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name);
    QList<ChatSummary> summaries;
    for (const QString &name : names) {
        const auto id = chatIdOfFileName(name);
        if (!id)
            continue;
        if (auto summary = summaryOfChatFile(folder.filePath(name), *id))
            summaries.append(std::move(*summary));
    }
    SummaryOrder::sortNewestFirst(summaries);
    if (summaries.size() > limit)
        summaries.resize(limit);
    return summaries;
}

} // namespace IndexRecovery
