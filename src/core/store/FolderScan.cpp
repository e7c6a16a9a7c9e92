#include "core/store/FolderScan.h"

#include "core/store/StoreLayout.h"

#include <QDir>

FolderScan FolderScan::of(const QString &dir)
{
    FolderScan scan;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        const QDateTime modified = entry.lastModified().toUTC();
        if (name == QLatin1String("index.json"))
            scan.indexModified = modified;
        else if (const auto id = StoreLayout::chatIdOfFileName(name))
            scan.chatsModified.insert(*id, modified);
        else if (StoreLayout::isLeftoverName(name))
            scan.leftovers.append(entry.filePath());
        else
            continue;
        if (!scan.latest.isValid() || modified > scan.latest)
            scan.latest = modified;
    }
    return scan;
}
