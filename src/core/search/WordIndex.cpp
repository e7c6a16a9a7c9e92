#include "core/search/WordIndex.h"

#include <algorithm>

void WordIndex::set(Bits &bits, int slot, bool on)
{
    const size_t block = size_t(slot) / 64;
    if (bits.size() <= block)
        bits.resize(block + 1, 0);
    const quint64 bit = quint64(1) << (slot % 64);
    bits[block] = on ? (bits[block] | bit) : (bits[block] & ~bit);
}

int WordIndex::slotFor(const QUuid &chat)
{
    if (const auto it = m_slotOf.constFind(chat); it != m_slotOf.constEnd())
        return *it;
    int slot;
    if (!m_freeSlots.isEmpty()) {
        slot = m_freeSlots.takeLast();
        m_chatIn[slot] = chat;
    } else {
        slot = int(m_chatIn.size());
        m_chatIn << chat;
    }
    m_slotOf.insert(chat, slot);
    return slot;
}

void WordIndex::put(const QUuid &chat, const QStringList &foldedWords)
{
    remove(chat);
    const int slot = slotFor(chat);
    for (const QString &word : foldedWords)
        set(m_chatsOf[word], slot, true);
}

void WordIndex::remove(const QUuid &chat)
{
    const auto it = m_slotOf.constFind(chat);
    if (it == m_slotOf.constEnd())
        return;
    const int slot = *it;
    m_slotOf.erase(it);
    for (auto entry = m_chatsOf.begin(); entry != m_chatsOf.end();) {
        set(entry->second, slot, false);
        if (std::all_of(entry->second.begin(), entry->second.end(), [](quint64 b) { return b == 0; }))
            entry = m_chatsOf.erase(entry);
        else
            ++entry;
    }
    m_chatIn[slot] = QUuid();
    m_freeSlots << slot;
}

WordIndex::Bits WordIndex::chatsBeginning(const QString &prefix) const
{
    Bits found((size_t(m_chatIn.size()) + 63) / 64, 0);
    for (auto it = m_chatsOf.lower_bound(prefix); it != m_chatsOf.end() && it->first.startsWith(prefix); ++it)
        for (size_t i = 0; i < it->second.size(); ++i)
            found[i] |= it->second[i];
    return found;
}

QList<QUuid> WordIndex::find(const QStringList &foldedQuery) const
{
    if (foldedQuery.isEmpty())
        return {};
    Bits all = chatsBeginning(foldedQuery.first());
    for (qsizetype q = 1; q < foldedQuery.size(); ++q) {
        const Bits next = chatsBeginning(foldedQuery.at(q));
        for (size_t i = 0; i < all.size(); ++i)
            all[i] &= next[i];
    }
    QList<QUuid> chats;
    for (int slot = 0; slot < int(m_chatIn.size()); ++slot)
        if (all[size_t(slot) / 64] & (quint64(1) << (slot % 64)))
            chats << m_chatIn.at(slot);
    return chats;
}
