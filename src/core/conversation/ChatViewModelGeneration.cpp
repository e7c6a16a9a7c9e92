// Sending, the generation and what its reply job reports, streamed text,
// stop and regenerate.

#include "core/conversation/ChatViewModel.h"
#include "core/conversation/HistoryWindow.h"
#include "core/conversation/ReplyWithFallback.h"
#include "core/conversation/SystemPrompt.h"

#include <algorithm>

static const QString userRole = QStringLiteral("user");
static const QString assistantRole = QStringLiteral("assistant");

bool ChatViewModel::hasSomethingToSend() const
{
    return !m_draft.trimmed().isEmpty() || !m_attachments.isEmpty();
}

void ChatViewModel::send()
{
    if (m_isStreaming || !hasSomethingToSend())
        return;
    const QString text = m_draft.trimmed();
    const Batch batch(*this);
    if (!m_attachments.isEmpty()) {
        if (std::optional<ImageNotice> notice = checkImageSupport()) {
            setImageNotice(notice);
            return;
        }
    }
    m_chat.messages.append(ChatMessage{ QUuid::createUuid(), userRole, text, m_attachments, {}, {} });
    if (m_chat.messages.size() == 1)
        m_chat.title = Chat::titleFrom(text);
    touch(chatField);
    setDraftSilently(QString());
    setAttachments({});
    setImageNotice(std::nullopt);
    m_store.save(m_chat);
    startGeneration();
}

void ChatViewModel::regenerate()
{
    if (m_isStreaming || m_chat.messages.isEmpty())
        return;
    if (m_chat.messages.last().role != assistantRole)
        return;
    const Batch batch(*this);
    m_chat.messages.removeLast();
    touch(chatField);
    setIssue(std::nullopt);
    startGeneration(); // the generation saves the chat when it ends
}

bool ChatViewModel::canContinue() const
{
    if (m_isStreaming || m_chat.messages.isEmpty())
        return false;
    const ChatMessage &last = m_chat.messages.last();
    return last.role == assistantRole && last.cut
        && (*last.cut == AnswerCut::length || *last.cut == AnswerCut::connection);
}

void ChatViewModel::continueAnswer()
{
    if (!canContinue())
        return;
}

void ChatViewModel::startGeneration()
{
    const Batch batch(*this);
    // Whatever still runs is ended first, as the user's Stop would: its
    // reply is tidied and saved.
    if (m_isStreaming || m_reply)
        stop();
    generate();
}

void ChatViewModel::retry()
{
    if (m_isStreaming)
        return;
    const Batch batch(*this);
    setIssue(std::nullopt);
    startGeneration();
}

void ChatViewModel::generate()
{
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    setIssue(std::nullopt);
    setStreaming(true);
    setThinking(true);
    setStatus(ready);
    m_buffer.clear();
    m_lastFlush.reset();
    m_flushTimer.stop();

    ReplyWithFallback::Request request{ *key, m_chat.messages, [this] { return m_chat.pinnedModel; } };
    const ChatMessage reply{ QUuid::createUuid(), assistantRole, QString(), {}, {}, {} };
    m_chat.messages.append(reply);
    touch(chatField);
    m_currentMsgID = reply.id;
    m_reply = new ReplyWithFallback(m_client, m_ranker, std::move(request), this);
    connect(m_reply, &ReplyWithFallback::textArrived, this, &ChatViewModel::receive);
    connect(m_reply, &ReplyWithFallback::switched, this, &ChatViewModel::replySwitched);
    connect(m_reply, &ReplyWithFallback::finished, this, &ChatViewModel::replyFinished);
    m_reply->start();
}

void ChatViewModel::replySwitched()
{
    const Batch batch(*this);
    // What the failed model wrote goes with it.
    if (m_currentMsgID)
        discardBufferedText(*m_currentMsgID);
    setThinking(true);
    setStatus(switching);
}

void ChatViewModel::replyFinished(const ReplyOutcome &outcome)
{
    if (!m_currentMsgID)
        return;
    const Batch batch(*this);
    const QUuid id = *m_currentMsgID;
    switch (outcome.kind) {
    case ReplyOutcome::answered:
        flush(id);
        if (ChatMessage *reply = message(id)) {
            reply->answeredBy = outcome.answeredBy;
            reply->note = outcome.note;
            touch(chatField);
        }
        setCurrentModelName(outcome.answeredBy);
        setStatus(ready);
        endGeneration();
        m_store.save(m_chat);
        return;
    case ReplyOutcome::failed:
        removeMessage(id);
        endGeneration();
        setStatus(failing);
        setIssue(outcome.issue);
        m_store.save(m_chat);
        return;
    case ReplyOutcome::keyRejected:
        removeMessage(id);
        endGeneration();
        m_store.save(m_chat);
        if (onUnauthorized)
            onUnauthorized();
        return;
    }
}

void ChatViewModel::endGeneration()
{
    m_flushTimer.stop();
    m_currentMsgID.reset();
    if (m_reply) {
        m_reply->abandon();
        // Later: this may run inside one of its signals.
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    setStreaming(false);
    setThinking(false);
}

void ChatViewModel::discardBufferedText(const QUuid &id)
{
    m_buffer.clear();
    m_flushTimer.stop();
    ChatMessage *reply = message(id);
    if (reply && !reply->text.isEmpty()) {
        reply->text.clear();
        touch(chatField);
    }
}

void ChatViewModel::stop()
{
    if (!m_isStreaming && !m_reply)
        return;
    const Batch batch(*this);
    // The text held back for the next flush has arrived: it is kept like the
    // rest, before the reply is abandoned.
    if (m_currentMsgID) {
        const QUuid id = *m_currentMsgID;
        flush(id);
        const ChatMessage *reply = message(id);
        if (reply && reply->text.isEmpty())
            removeMessage(id);
    }
    if (m_reply)
        m_reply->abandon();
    endGeneration();
    m_store.save(m_chat);
}

void ChatViewModel::receive(const QString &piece)
{
    if (!m_currentMsgID)
        return;
    const Batch batch(*this);
    m_buffer += piece;
    setThinking(false);
    const std::chrono::nanoseconds now = m_clock();
    if (!m_lastFlush || now - *m_lastFlush > flushInterval) {
        flush(*m_currentMsgID);
        return;
    }
    // Held back: shown when the interval since the last flush ends, whether
    // or not another piece comes.
    if (!m_flushTimer.isActive()) {
        const auto remaining = std::clamp<std::chrono::nanoseconds>(
            flushInterval - (now - *m_lastFlush), std::chrono::nanoseconds(0), flushInterval);
        m_flushTimer.start(std::chrono::ceil<std::chrono::milliseconds>(remaining));
    }
}

void ChatViewModel::flush(const QUuid &id)
{
    m_lastFlush = m_clock();
    m_flushTimer.stop();
    if (m_buffer.isEmpty())
        return;
    if (ChatMessage *reply = message(id)) {
        const Batch batch(*this);
        reply->text += m_buffer;
        touch(chatField);
    }
    m_buffer.clear();
}

QList<APIMessage> ChatViewModel::apiMessages(const ORModel &model, const QUuid &excluding) const
{
    return HistoryWindow::select(m_chat.messages, model, SystemPrompt::read(), excluding);
}

void ChatViewModel::removeMessage(const QUuid &id)
{
    const Batch batch(*this);
    if (m_chat.messages.removeIf([&id](const ChatMessage &message) { return message.id == id; }) > 0)
        touch(chatField);
}
