// Sending, the generation with fallback, streamed text, stop and regenerate.

#include "conversation/ChatViewModel.h"
#include "conversation/Generation.h"
#include "conversation/GenerationRules.h"
#include "conversation/HistoryWindow.h"
#include "conversation/SystemPrompt.h"

#include <QPointer>
#include <algorithm>

using Kind = ORError::Kind;

static const QString userRole = QStringLiteral("user");
static const QString assistantRole = QStringLiteral("assistant");

void ChatViewModel::send()
{
    const QString text = m_draft.trimmed();
    if (m_isStreaming)
        return;
    if (text.isEmpty() && m_attachments.isEmpty())
        return;
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

void ChatViewModel::startGeneration()
{
    const Batch batch(*this);
    // Whatever still runs is ended first, as the user's Stop would: it becomes
    // stale before its stream is cancelled, and its reply is tidied.
    if (m_isStreaming || m_task)
        stop();
    generate();
}

void ChatViewModel::generate()
{
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    const quint64 number = ++m_genID;
    setIssue(std::nullopt);
    setStreaming(true);
    setThinking(true);
    setStatus(ready);
    m_buffer.clear();
    m_lastFlush.reset();
    m_flushTimer.stop();

    const ChatMessage reply{ QUuid::createUuid(), assistantRole, QString(), {}, {}, {} };
    m_chat.messages.append(reply);
    touch(chatField);
    m_currentMsgID = reply.id;
    m_task = std::make_unique<Generation>(number, reply.id, *key, conversationHasImages());
    runAttempt();
}

void ChatViewModel::runAttempt()
{
    Generation &run = *m_task;
    // The pin is read anew: a model pinned meanwhile counts from here on.
    const QList<ORModel> offered = m_ranker.candidates(m_chat.pinnedModel, run.needsImages, run.tried);
    if (offered.isEmpty()) {
        failGeneration();
        return;
    }
    run.model = offered.first();
    run.tried.insert(run.model.id);
    if (run.attempt > 0)
        setStatus(switching);

    const QList<APIMessage> messages = apiMessages(run.model, run.messageId);
    const QString prompt = SystemPrompt::read();
    const std::optional<QString> system = prompt.isEmpty() ? std::nullopt : std::optional(prompt);
    const quint64 number = run.number;
    const QUuid id = run.messageId;
    QPointer<ChatViewModel> self(this);
    StreamCall *call = m_client.streamChat(run.key, run.model.id, messages, system, std::nullopt,
        m_firstChunkDeadline, [self, id, number](const QString &piece) {
            if (self)
                self->receive(piece, id, number);
        });
    run.setCall(call);
    connect(call, &StreamCall::finished, this,
        [this, number](const StreamOutcome &outcome) { attemptFinished(number, outcome); });
}

void ChatViewModel::attemptFinished(quint64 gen, const StreamOutcome &outcome)
{
    // A generation that was stopped or replaced changes nothing, whatever its
    // stream brings back: whoever ended it has already put the state in order.
    if (gen != m_genID || !m_task || m_task->number != gen)
        return;
    const Batch batch(*this);
    m_task->takeCall();
    if (outcome.ok() && outcome.value().chars > 0) {
        succeed(outcome.value());
        return;
    }
    const ORError error = outcome.ok() ? ORError::emptyReply() : outcome.error();
    // Only a cancel this controller asked for is silent; one it did not ask
    // for is a failure like any other, so the reply cannot hang.
    if (error.is(Kind::cancelled) && m_task->cancelRequested())
        return;
    attemptFailed(error);
}

void ChatViewModel::succeed(const StreamResult &result)
{
    const Generation &run = *m_task;
    flush(run.messageId);
    const QString answering
        = result.modelUsed.value_or(QString()).isEmpty() ? run.model.id : *result.modelUsed;
    const QString name = GenerationRules::displayName(m_ranker.model(answering), answering);
    if (ChatMessage *reply = message(run.messageId)) {
        reply->answeredBy = name;
        if (run.firstFailure)
            reply->note = GenerationRules::switchNote(run.firstFailure->name, run.firstFailure->reason);
        touch(chatField);
    }
    setCurrentModelName(name);
    setStatus(ready);
    endGeneration();
    m_store.save(m_chat);
}

void ChatViewModel::attemptFailed(const ORError &error)
{
    Generation &run = *m_task;
    const quint64 number = run.number;
    discardBufferedText(run.messageId);
    setThinking(true);
    run.failureLines.append(GenerationRules::failureLine(run.model, error));
    run.lastError = error;
    if (error.is(Kind::unauthorized)) {
        endUnauthorized();
        return;
    }
    if (GenerationRules::endsGeneration(error)) {
        failGeneration();
        return;
    }
    if (!run.firstFailure)
        run.firstFailure = Generation::Failure{ run.model.name, GenerationRules::switchReason(error) };
    const bool lastAttempt = ++run.attempt >= maxAttempts;
    const GenerationRules::Cooling cooling = GenerationRules::coolingFor(error);
    if (cooling.cool)
        m_ranker.cool(run.model.id, cooling.retryAfter);
    // A slot of the ranker's change signal may have stopped this generation.
    if (!m_task || m_task->number != number)
        return;
    if (lastAttempt)
        failGeneration();
    else
        runAttempt();
}

void ChatViewModel::failGeneration()
{
    const AppIssue issue = GenerationRules::failureIssue(m_task->lastError, m_task->failureLines);
    removeMessage(m_task->messageId);
    endGeneration();
    setStatus(failing);
    setIssue(issue);
    m_store.save(m_chat);
}

void ChatViewModel::endUnauthorized()
{
    removeMessage(m_task->messageId);
    endGeneration();
    m_store.save(m_chat);
    if (onUnauthorized)
        onUnauthorized();
}

void ChatViewModel::endGeneration()
{
    m_flushTimer.stop();
    m_currentMsgID.reset();
    m_task.reset();
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
    if (!m_isStreaming && !m_task)
        return;
    const Batch batch(*this);
    ++m_genID; // everything still on its way from the old generation is stale
    if (m_task)
        m_task->cancel();
    if (m_currentMsgID) {
        const QUuid id = *m_currentMsgID;
        flush(id);
        const ChatMessage *reply = message(id);
        if (reply && reply->text.isEmpty())
            removeMessage(id);
    }
    endGeneration();
    m_store.save(m_chat);
}

void ChatViewModel::receive(const QString &piece, const QUuid &id, quint64 gen)
{
    if (gen != m_genID)
        return;
    const Batch batch(*this);
    m_buffer += piece;
    setThinking(false);
    const std::chrono::nanoseconds now = m_clock();
    if (!m_lastFlush || now - *m_lastFlush > flushInterval) {
        flush(id);
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
