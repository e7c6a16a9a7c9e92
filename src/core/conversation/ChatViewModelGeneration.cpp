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
    return last.role == assistantRole && last.modelId && last.cut
        && (*last.cut == AnswerCut::length || *last.cut == AnswerCut::connection);
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
    if (m_retryContinues && canContinue())
        continueAnswer();
    else
        startGeneration();
}

void ChatViewModel::generate()
{
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    ReplyWithFallback::Request request{ *key, m_chat.messages, [this] { return m_chat.pinnedModel; } };
    const ChatMessage reply{ QUuid::createUuid(), assistantRole, QString(), {}, {}, {} };
    m_chat.messages.append(reply);
    touch(chatField);
    run(new ReplyWithFallback(m_client, m_ranker, std::move(request), this), reply.id, ReplyBase{});
}

void ChatViewModel::continueAnswer()
{
    if (!canContinue())
        return;
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    const Batch batch(*this);
    const ChatMessage &answer = m_chat.messages.last();
    const QString modelId = *answer.modelId;
    const std::optional<ORModel> known = m_ranker.model(modelId);
    // A model that left the catalogue is still asked: the service says
    // whether it answers.
    const ORModel model
        = known.value_or(ORModel{ modelId, ReplyWithFallback::displayName(std::nullopt, modelId), 0, false });
    ReplyWithFallback::Request request{ *key, m_chat.messages, [this] { return m_chat.pinnedModel; }, model };
    const ReplyBase base{ answer.text, answer.reasoning, answer.reasoningSeconds, true };
    run(new ReplyWithFallback(m_client, m_ranker, std::move(request), this), answer.id, base);
}

void ChatViewModel::run(ReplyWithFallback *job, const QUuid &messageId, const ReplyBase &base)
{
    setIssue(std::nullopt);
    setStreaming(true);
    setThinking(true);
    setStatus(ready);
    setLimitWait(std::nullopt);
    m_buffer.clear();
    m_reasoningBuffer.clear();
    m_firstReasoningAt.reset();
    m_pendingReasoningSeconds.reset();
    m_lastFlush.reset();
    m_flushTimer.stop();
    m_currentMsgID = messageId;
    m_replyBase = base;
    m_retryContinues = base.continuing;
    m_reply = job;
    connect(job, &ReplyWithFallback::textArrived, this, &ChatViewModel::receive);
    connect(job, &ReplyWithFallback::reasoningArrived, this, &ChatViewModel::receiveReasoning);
    connect(job, &ReplyWithFallback::switched, this, &ChatViewModel::replySwitched);
    connect(job, &ReplyWithFallback::waitingForLimit, this, &ChatViewModel::replyWaiting);
    connect(job, &ReplyWithFallback::retrying, this, &ChatViewModel::replyRetrying);
    connect(job, &ReplyWithFallback::finished, this, &ChatViewModel::replyFinished);
    job->start();
}

void ChatViewModel::replySwitched()
{
    const Batch batch(*this);
    // What the failed model wrote goes with it.
    if (m_currentMsgID)
        discardBufferedText(*m_currentMsgID);
    setThinking(true);
    setStatus(switching);
    setLimitWait(std::nullopt);
}

void ChatViewModel::replyWaiting(const QDeadlineTimer &until)
{
    const Batch batch(*this);
    if (m_currentMsgID)
        discardBufferedText(*m_currentMsgID);
    setThinking(true);
    setLimitWait(until);
}

void ChatViewModel::replyRetrying()
{
    const Batch batch(*this);
    if (m_currentMsgID)
        discardBufferedText(*m_currentMsgID);
    setThinking(true);
    setLimitWait(std::nullopt);
}

void ChatViewModel::replyFinished(const ReplyOutcome &outcome)
{
    if (!m_currentMsgID)
        return;
    const Batch batch(*this);
    const QUuid id = *m_currentMsgID;
    const bool continuing = m_replyBase.continuing;
    switch (outcome.kind) {
    case ReplyOutcome::answered:
        flush(id);
        if (ChatMessage *reply = message(id)) {
            // A continuation keeps the answer's signature; its ending is new.
            if (!continuing) {
                reply->answeredBy = outcome.answeredBy;
                reply->note = outcome.note;
            }
            reply->modelId = outcome.modelId;
            reply->cut = outcome.cut;
            touch(chatField);
        }
        if (!continuing)
            setCurrentModelName(outcome.answeredBy);
        setStatus(ready);
        endGeneration();
        m_store.save(m_chat);
        return;
    case ReplyOutcome::failed:
        if (continuing)
            discardBufferedText(id);
        else
            removeMessage(id);
        endGeneration();
        setStatus(failing);
        setIssue(outcome.issue);
        m_store.save(m_chat);
        return;
    case ReplyOutcome::keyRejected:
        if (continuing)
            discardBufferedText(id);
        else
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
    // Stopped, or it has just delivered its outcome and deletes itself.
    cancelOperation(m_reply);
    setStreaming(false);
    setThinking(false);
    setLimitWait(std::nullopt);
}

void ChatViewModel::discardBufferedText(const QUuid &id)
{
    m_buffer.clear();
    m_reasoningBuffer.clear();
    m_firstReasoningAt.reset();
    m_pendingReasoningSeconds.reset();
    m_flushTimer.stop();
    ChatMessage *reply = message(id);
    if (!reply)
        return;
    if (reply->text != m_replyBase.text || reply->reasoning != m_replyBase.reasoning
        || reply->reasoningSeconds != m_replyBase.reasoningSeconds) {
        reply->text = m_replyBase.text;
        reply->reasoning = m_replyBase.reasoning;
        reply->reasoningSeconds = m_replyBase.reasoningSeconds;
        touch(chatField);
    }
}

void ChatViewModel::setLimitWait(const std::optional<QDeadlineTimer> &until)
{
    if (m_limitWait.has_value() == until.has_value()
        && (!until || m_limitWait->deadlineNSecs() == until->deadlineNSecs()))
        return;
    m_limitWait = until;
    touch(limitWaitField);
}

void ChatViewModel::stop()
{
    if (!m_isStreaming && !m_reply)
        return;
    const Batch batch(*this);
    // The text held back for the next flush has arrived: it is kept like the
    // rest, before the reply is stopped.
    if (m_currentMsgID) {
        const QUuid id = *m_currentMsgID;
        flush(id);
        const ChatMessage *reply = message(id);
        // Reasoning alone is no answer.
        if (reply && reply->text.isEmpty())
            removeMessage(id);
    }
    endGeneration();
    m_store.save(m_chat);
}

void ChatViewModel::receive(const QString &piece)
{
    if (!m_currentMsgID)
        return;
    const Batch batch(*this);
    // The first text ends the reasoning: how long it took is kept with it.
    if (m_firstReasoningAt && !m_pendingReasoningSeconds) {
        const ChatMessage *reply = message(*m_currentMsgID);
        if (!reply || !reply->reasoningSeconds)
            m_pendingReasoningSeconds
                = std::chrono::duration<double>(m_clock() - *m_firstReasoningAt).count();
    }
    m_buffer += piece;
    bufferArrived();
}

void ChatViewModel::receiveReasoning(const QString &piece)
{
    if (!m_currentMsgID)
        return;
    const Batch batch(*this);
    if (!m_firstReasoningAt)
        m_firstReasoningAt = m_clock();
    m_reasoningBuffer += piece;
    bufferArrived();
}

void ChatViewModel::bufferArrived()
{
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
    if (m_buffer.isEmpty() && m_reasoningBuffer.isEmpty())
        return;
    if (ChatMessage *reply = message(id)) {
        const Batch batch(*this);
        reply->text += m_buffer;
        if (!m_reasoningBuffer.isEmpty())
            reply->reasoning = reply->reasoning.value_or(QString()) + m_reasoningBuffer;
        if (m_pendingReasoningSeconds && !m_buffer.isEmpty() && !reply->reasoningSeconds)
            reply->reasoningSeconds = m_pendingReasoningSeconds;
        touch(chatField);
    }
    m_buffer.clear();
    m_reasoningBuffer.clear();
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
