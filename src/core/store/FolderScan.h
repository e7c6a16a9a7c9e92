#pragma once

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <QUuid>
#include <optional>

// One listing of the chats folder with the files' modification times: what
// start-up may look at on the main thread without reading any chat.
struct FolderScan {
    std::optional<QDateTime> indexModified;
    QHash<QUuid, QDateTime> chatsModified; // by the id the file is named after
    QStringList leftovers; // paths of temporaries of interrupted writes
    QDateTime latest; // the newest modification time of any of them

    static FolderScan of(const QString &dir);
};
