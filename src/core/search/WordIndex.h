#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <map>
#include <vector>

// Which chats hold which folded words. A query finds the chats in which
// every query word begins some word. Lookups cost the words sharing a
// prefix, not the text: each word keeps the set of chats holding it as bits.
// Removing a chat clears its bit in every word, which costs the index's
// distinct words; keeping each chat's own word list instead would cost more
// memory than the whole index.
// Not thread-safe; ChatSearchIndex keeps it on one thread.
class WordIndex
{
public:
    // Replaces what the index holds for that chat.
    void put(const QUuid &chat, const QStringList &foldedWords);
    void remove(const QUuid &chat);
    QList<QUuid> find(const QStringList &foldedQuery) const;

    qsizetype chatCount() const { return m_slotOf.size(); }
    qsizetype wordCount() const { return qsizetype(m_chatsOf.size()); }

private:
    using Bits = std::vector<quint64>;
    static void set(Bits &bits, int slot, bool on);
    Bits chatsBeginning(const QString &prefix) const;
    int slotFor(const QUuid &chat);

    std::map<QString, Bits> m_chatsOf;
    QHash<QUuid, int> m_slotOf;
    QList<QUuid> m_chatIn; // by slot; null for a free slot
    QList<int> m_freeSlots;
};
