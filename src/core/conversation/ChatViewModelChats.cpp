// Opening, renaming, deleting and pinning chats.

#include "core/conversation/ChatViewModel.h"

void ChatViewModel::resetOpenChat(const Chat &chat)
{
    m_chat = chat;
    touch(chatField);
    setDraftSilently(QString());
    setAttachments({});
    setIssue(std::nullopt);
    setImageNotice(std::nullopt);
    setStatus(ready);
    syncSaveIssue();
}

void ChatViewModel::newChat()
{
    const Batch batch(*this);
    stop();
    resetOpenChat(Chat());
    requestFocus();
}

void ChatViewModel::reset()
{
    const Batch batch(*this);
    stop();
    resetOpenChat(Chat());
    setCurrentModelName(std::nullopt);
}

void ChatViewModel::requestFocus()
{
    const Batch batch(*this);
    ++m_focusToken;
    touch(focusField);
}

void ChatViewModel::select(const QUuid &id)
{
    if (m_chat.id == id)
        return;
    const Batch batch(*this);
    stop();
    // The store knows the newest saved version, even one still waiting to be
    // written.
    const std::optional<Chat> loaded = m_store.load(id);
    if (!loaded)
        return;
    resetOpenChat(*loaded);
    requestFocus();
}

void ChatViewModel::rename(const QUuid &id, const QString &title)
{
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty())
        return;
    const Batch batch(*this);
    if (id == m_chat.id) {
        m_chat.title = trimmed;
        touch(chatField);
        m_store.save(m_chat);
        return;
    }
    std::optional<Chat> stored = m_store.load(id);
    if (!stored)
        return;
    stored->title = trimmed;
    m_store.save(*stored);
}

void ChatViewModel::deleteChat(const QUuid &id)
{
    // A new chat first: stopping a reply in the open chat saves it, which
    // would otherwise bring the deleted chat back.
    if (id == m_chat.id)
        newChat();
    m_store.remove(id);
}

void ChatViewModel::pin(const std::optional<QString> &modelId)
{
    const Batch batch(*this);
    m_chat.pinnedModel = modelId;
    touch(chatField);
    setImageNotice(std::nullopt);
    m_store.save(m_chat);
}
