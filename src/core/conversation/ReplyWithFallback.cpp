// One reply: the walk down the ranked candidates, a model's failure, the
// switch to the next one, and the reply's one outcome.

#include "core/conversation/ReplyWithFallback.h"

#include "core/conversation/ConversationLog.h"
#include "core/conversation/HistoryWindow.h"
#include "core/conversation/SystemPrompt.h"

#include <algorithm>
#include <utility>

using Kind = ORError::Kind;
using ConversationLog::kindName;

static bool holdsImages(const QList<ChatMessage> &history)
{
    return std::any_of(history.cbegin(), history.cend(),
        [](const ChatMessage &message) { return !message.images.isEmpty(); });
}

ReplyWithFallback::ReplyWithFallback(
    OpenRouterClient &client, ModelRanker &ranker, Request request, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_ranker(ranker)
    , m_request(std::move(request))
    , m_needsImages(holdsImages(m_request.history))
{
}

ReplyWithFallback::~ReplyWithFallback()
{
    abandon();
}

void ReplyWithFallback::start()
{
    if (m_started)
        return;
    m_started = true;
    m_sinceStart.start();
    askNext();
}

void ReplyWithFallback::abandon()
{
    if (m_ended)
        return;
    m_ended = true;
    if (StreamCall *call = detachCall())
        call->cancel();
    if (m_started)
        qCDebug(lcConversation) << "reply abandoned after" << m_sinceStart.elapsed() << "ms";
}

StreamCall *ReplyWithFallback::detachCall()
{
    disconnect(m_callFinished);
    disconnect(m_callGone);
    if (m_textGate)
        *m_textGate = false;
    m_textGate.reset();
    return std::exchange(m_call, nullptr);
}

void ReplyWithFallback::askNext()
{
    const std::optional<QString> pin
        = m_request.pinnedModel ? m_request.pinnedModel() : std::optional<QString>();
    const QList<ORModel> offered = m_ranker.candidates(pin, m_needsImages, m_tried);
    if (offered.isEmpty()) {
        fail();
        return;
    }
    const ORModel next = offered.first();
    if (m_attempt > 0) {
        const QString reason = switchReason(*m_lastError);
        qCInfo(lcConversation).nospace()
            << "switching from " << m_model.id << " to " << next.id << " (" << reason << ", "
            << kindName(m_lastError->kind()) << ") after " << m_sinceAsked.elapsed() << " ms";
        Q_EMIT switched(ReplySwitch{ m_model, next, reason });
        if (m_ended) // a listener abandoned the reply
            return;
    }
    m_model = next;
    m_tried.insert(next.id);
    m_sawText = false;
    m_sinceAsked.start();
    qCDebug(lcConversation) << "asking" << next.id << "attempt" << m_attempt + 1;

    const QString prompt = SystemPrompt::read();
    const std::optional<QString> system = prompt.isEmpty() ? std::nullopt : std::optional(prompt);
    const QList<APIMessage> messages = HistoryWindow::select(m_request.history, next, prompt, QUuid());
    auto gate = std::make_shared<bool>(true);
    m_textGate = gate;
    m_call = m_client.streamChat(m_request.key, next.id, messages, system, std::nullopt, m_firstChunkDeadline,
        [this, gate](const QString &piece) {
            if (*gate)
                onText(piece);
        });
    m_callFinished = connect(m_call, &StreamCall::finished, this, &ReplyWithFallback::attemptFinished);
    m_callGone = connect(m_call, &QObject::destroyed, this, &ReplyWithFallback::callVanished);
}

void ReplyWithFallback::onText(const QString &piece)
{
    if (!m_sawText) {
        m_sawText = true;
        qCDebug(lcConversation) << "first text from" << m_model.id << "after" << m_sinceAsked.elapsed()
                                << "ms";
    }
    Q_EMIT textArrived(piece);
}

void ReplyWithFallback::attemptFinished(const StreamOutcome &outcome)
{
    detachCall(); // it has finished, and deletes itself
    if (outcome.ok() && outcome.value().chars > 0) {
        answered(outcome.value());
        return;
    }
    attemptFailed(outcome.ok() ? ORError::emptyReply() : outcome.error());
}

void ReplyWithFallback::callVanished()
{
    // Cancelled or deleted by someone else (its client going away), so it
    // will never finish. That ends the reply as a failure rather than leaving
    // it waiting for ever; decided from the event loop, as whatever deletes
    // the call may be tearing down the client this reply would ask next.
    detachCall();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_ended)
                attemptFailed(ORError::cancelled());
        },
        Qt::QueuedConnection);
}

void ReplyWithFallback::answered(const StreamResult &result)
{
    const QString answering = result.modelUsed.value_or(QString()).isEmpty() ? m_model.id : *result.modelUsed;
    ReplyOutcome outcome;
    outcome.kind = ReplyOutcome::answered;
    outcome.answeredBy = displayName(m_ranker.model(answering), answering);
    if (m_firstFailure)
        outcome.note = switchNote(m_firstFailure->name, m_firstFailure->reason);
    qCInfo(lcConversation).nospace() << "answered by " << answering << " (asked " << m_model.id << ", model "
                                     << m_attempt + 1 << ") in " << m_sinceStart.elapsed() << " ms";
    finish(outcome);
}

void ReplyWithFallback::attemptFailed(const ORError &error)
{
    m_failureLines.append(failureLine(m_model, error));
    m_lastError = error;
    qCDebug(lcConversation).nospace() << m_model.id << " failed: " << kindName(error.kind()) << ", status "
                                      << error.status() << ", after " << m_sinceAsked.elapsed() << " ms";
    if (error.is(Kind::unauthorized)) {
        qCWarning(lcConversation) << "the service rejected the key";
        finish(ReplyOutcome{ ReplyOutcome::keyRejected, {}, {}, {} });
        return;
    }
    if (endsReply(error)) {
        fail();
        return;
    }
    if (!m_firstFailure)
        m_firstFailure = Failure{ m_model.name, switchReason(error) };
    const bool lastAttempt = ++m_attempt >= maxAttempts;
    const Cooling cooling = coolingFor(error);
    if (cooling.cool)
        m_ranker.cool(m_model.id, cooling.retryAfter);
    if (m_ended) // a slot of the ranker's change signal abandoned the reply
        return;
    if (lastAttempt)
        fail();
    else
        askNext();
}

void ReplyWithFallback::fail()
{
    ReplyOutcome outcome;
    outcome.kind = ReplyOutcome::failed;
    outcome.issue = failureIssue(m_lastError, m_failureLines);
    if (m_lastError)
        qCWarning(lcConversation).nospace()
            << "no answer: " << m_tried.size() << " model(s) failed in " << m_sinceStart.elapsed()
            << " ms, the last (" << m_model.id << ") with " << kindName(m_lastError->kind()) << ", status "
            << m_lastError->status();
    else
        qCWarning(lcConversation) << "no answer: no free model was offered";
    finish(outcome);
}

void ReplyWithFallback::finish(const ReplyOutcome &outcome)
{
    m_ended = true;
    Q_EMIT finished(outcome);
}
