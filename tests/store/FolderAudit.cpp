#include "FolderAudit.h"

#include "core/store/ChatStore.h"
#include "core/store/StoreLayout.h"

#include <QDir>
#include <QFile>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

FolderAudit FolderAudit::of(const QString &dir)
{
    FolderAudit audit;
    const QString indexPath = StoreLayout::indexPath(dir);
    const QDateTime indexTime = QFileInfo(indexPath).lastModified();
    if (QFile::exists(indexPath)) {
        if (const auto index = RecordCodec::decodeSummaries(readAll(indexPath))) {
            for (const ChatSummary &summary : *index)
                audit.listed.append(summary.id);
        } else {
            audit.undecodable.append(QStringLiteral("index.json"));
        }
    }
    QSet<QUuid> decodable;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (StoreLayout::isLeftoverName(name)) {
            audit.leftovers.append(name);
            continue;
        }
        const auto id = StoreLayout::chatIdOfFileName(name);
        if (!id)
            continue;
        if (!StoreLayout::readChat(dir, *id)) {
            audit.undecodable.append(name);
            continue;
        }
        decodable.insert(*id);
        if (audit.listed.contains(*id))
            continue;
        if (indexTime.isValid() && entry.lastModified() > indexTime)
            audit.unlistedNewer.insert(*id);
        else
            audit.unlistedOlder.insert(*id);
    }
    for (const QUuid &id : std::as_const(audit.listed)) {
        if (!decodable.contains(id))
            audit.listedWithoutFile.append(id);
    }
    return audit;
}

QStringList problemsAfterLoad(const QString &dir, QList<QUuid> *listed)
{
    QStringList problems;
    QList<ChatSummary> summaries;
    {
        ChatStore store(dir);
        store.drain();
        summaries = store.summaries();
    }
    QSet<QUuid> ids;
    for (qsizetype i = 0; i < summaries.size(); ++i) {
        if (i > 0 && summaries[i - 1].updated < summaries[i].updated)
            problems.append(QStringLiteral("the list is not sorted newest first"));
        ids.insert(summaries[i].id);
    }
    if (ids.size() != summaries.size())
        problems.append(QStringLiteral("the list names a chat twice"));
    if (summaries.size() > ChatStore::maxChats)
        problems.append(QStringLiteral("the list holds more than 200 chats"));
    if (RecordCodec::decodeSummaries(readAll(StoreLayout::indexPath(dir))).value_or(QList<ChatSummary>())
        != summaries)
        problems.append(QStringLiteral("index.json does not say what the list says"));
    const FolderAudit audit = FolderAudit::of(dir);
    if (!audit.leftovers.isEmpty())
        problems.append(QStringLiteral("temporaries were left: ") + audit.leftovers.join(u' '));
    if (!audit.listedWithoutFile.isEmpty())
        problems.append(QStringLiteral("listed chats do not open"));
    if (listed) {
        listed->clear();
        for (const ChatSummary &summary : std::as_const(summaries))
            listed->append(summary.id);
    }
    return problems;
}
