#pragma once

#include <QSet>
#include <QStringList>
#include <QUuid>

// What a chats folder holds, file by file, as a crash may have left it.
struct FolderAudit {
    QStringList leftovers; // temporaries of interrupted atomic writes
    QStringList undecodable; // chat files (or the index) that do not decode
    QList<QUuid> listed; // in the index's order
    QList<QUuid> listedWithoutFile; // index entries without a decodable file
    QSet<QUuid> unlistedNewer; // decodable, unlisted, written after the index
    QSet<QUuid> unlistedOlder; // decodable, unlisted, written before it

    static FolderAudit of(const QString &dir);
};

// Starts a store on dir, lets its first work run, and says in words what is
// unsound about its list and the folder afterwards (nothing when sound):
// the list sorted newest first, at most 200 distinct chats, the index on
// disk saying the same, every listed chat opening, no temporaries left.
// `listed` receives the list.
QStringList problemsAfterLoad(const QString &dir, QList<QUuid> *listed = nullptr);
