// One reply: the walk down the ranked candidates, a model's failure, the
// switch to the next one, the waits and second asks, and the reply's one
// outcome.

#include "core/conversation/ReplyWithFallback.h"

#include "core/conversation/ConversationLog.h"
#include "core/conversation/HistoryWindow.h"
#include "core/conversation/SystemPrompt.h"

#include <algorithm>
#include <cmath>
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
    : Operation(parent)
    , m_client(client)
    , m_ranker(ranker)
    , m_request(std::move(request))
    , m_needsImages(holdsImages(m_request.history))
{
    m_limitWait.setSingleShot(true);
    connect(&m_limitWait, &QTimer::timeout, this, [this] {
        qCDebug(lcConversation) << "the per-minute limit has passed; asking" << m_model.id << "again";
        Q_EMIT retrying();
        if (canDeliver())
            ask();
    });
}

ReplyWithFallback::~ReplyWithFallback()
{
    if (StreamCall *call = detachCall())
        call->cancel();
}

void ReplyWithFallback::start()
{
    if (m_started)
        return;
    m_started = true;
    m_sinceStart.start();
    m_starting = true;
    askNext();
    m_starting = false;
}

void ReplyWithFallback::stopWork()
{
    m_limitWait.stop();
    if (StreamCall *call = detachCall())
        call->cancel();
    if (m_started)
        qCDebug(lcConversation) << "reply stopped after" << m_sinceStart.elapsed() << "ms";
}

StreamCall *ReplyWithFallback::detachCall()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_callConnections))
        disconnect(connection);
    m_callConnections.clear();
    return std::exchange(m_call, nullptr);
}

void ReplyWithFallback::askNext()
{
    std::optional<ORModel> next = m_request.onlyModel;
    if (!next) {
        const std::optional<QString> pin
            = m_request.pinnedModel ? m_request.pinnedModel() : std::optional<QString>();
        const QList<ORModel> offered = m_ranker.candidates(pin, m_needsImages, m_tried);
        if (!offered.isEmpty())
            next = offered.first();
    }
    if (!next || (m_request.onlyModel && m_attempt > 0)) {
        fail();
        return;
    }
    if (m_attempt > 0) {
        const QString reason = switchReason(*m_lastError);
        qCInfo(lcConversation).nospace()
            << "switching from " << m_model.id << " to " << next->id << " (" << reason << ", "
            << kindName(m_lastError->kind()) << ") after " << m_sinceAsked.elapsed() << " ms";
        Q_EMIT switched(ReplySwitch{ m_model, *next, reason });
        if (!canDeliver()) // a listener stopped the reply
            return;
    }
    m_model = *next;
    m_contextLimit.reset();
    m_tried.insert(m_model.id);
    ask();
}

ORModel ReplyWithFallback::windowModel() const
{
    ORModel fitted = m_model;
    if (m_contextLimit)
        fitted.contextLength = *m_contextLimit;
    return fitted;
}

void ReplyWithFallback::ask()
{
    m_sinceAsked.start();
    qCDebug(lcConversation) << "asking" << m_model.id << "attempt" << m_attempt + 1;
    const QString prompt = SystemPrompt::read();
    const std::optional<QString> system = prompt.isEmpty() ? std::nullopt : std::optional(prompt);
    const QList<APIMessage> messages
        = HistoryWindow::select(m_request.history, windowModel(), prompt, QUuid());
    m_call = m_client.streamChat(
        m_request.key, m_model.id, messages, system, std::nullopt, m_firstChunkDeadline, {});
    m_callConnections = {
        connect(m_call, &StreamCall::textArrived, this, &ReplyWithFallback::textArrived),
        connect(m_call, &StreamCall::reasoningArrived, this, &ReplyWithFallback::reasoningArrived),
        connect(m_call, &StreamCall::finished, this, &ReplyWithFallback::attemptFinished),
        connect(m_call, &QObject::destroyed, this, &ReplyWithFallback::callVanished),
    };
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
            if (canDeliver())
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
    outcome.modelId = answering;
    outcome.cut = cutOf(result);
    outcome.firstEventSeconds = result.firstChunkAfter;
    qCInfo(lcConversation).nospace() << "answered by " << answering << " (asked " << m_model.id << ", model "
                                     << m_attempt + 1 << ") in " << m_sinceStart.elapsed() << " ms"
                                     << (outcome.cut ? ", cut short" : "");
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
    if (error.perMinute()) {
        const double wait = error.retryAfter().value_or(longestLimitWait);
        if (m_waitedForLimit || wait > longestLimitWait)
            fail();
        else
            waitForLimit(wait);
        return;
    }
    if (error.is(Kind::flagged) && ++m_flaggedAnswers >= 2) {
        // A third provider is unlikely to judge otherwise, and each try is a
        // request of the day's.
        fail();
        return;
    }
    if (endsReply(error)) {
        fail();
        return;
    }
    if (retryTrimmed(error))
        return;
    moveOn(error);
}

// A conversation longer than the model reads goes once more, trimmed to
// what the service said it reads, unless trimming would leave it as it was.
bool ReplyWithFallback::retryTrimmed(const ORError &error)
{
    if (!error.is(Kind::contextTooLong) || !error.tokenLimit() || m_contextLimit)
        return false;
    const QString prompt = SystemPrompt::read();
    const QList<APIMessage> sent = HistoryWindow::select(m_request.history, windowModel(), prompt, QUuid());
    m_contextLimit = error.tokenLimit();
    const QList<APIMessage> trimmed
        = HistoryWindow::select(m_request.history, windowModel(), prompt, QUuid());
    if (trimmed.size() >= sent.size())
        return false;
    qCInfo(lcConversation) << "asking" << m_model.id << "again with" << trimmed.size() << "of" << sent.size()
                           << "messages, for its context of" << *m_contextLimit << "tokens";
    Q_EMIT retrying();
    if (canDeliver())
        ask();
    return true;
}

void ReplyWithFallback::waitForLimit(double seconds)
{
    m_waitedForLimit = true;
    const auto ms = std::chrono::milliseconds(qint64(std::ceil(seconds * 1000)));
    qCInfo(lcConversation) << "the account's per-minute limit is full; waiting" << ms.count() << "ms";
    m_limitWait.start(ms);
    Q_EMIT waitingForLimit(QDeadlineTimer(ms));
}

void ReplyWithFallback::moveOn(const ORError &error)
{
    if (!m_firstFailure)
        m_firstFailure = Failure{ m_model.name, switchReason(error) };
    const bool lastAttempt = ++m_attempt >= maxAttempts;
    const Cooling cooling = coolingFor(error);
    if (cooling.cool)
        m_ranker.cool(m_model.id, cooling.retryAfter);
    if (!canDeliver()) // a slot of the ranker's change signal stopped the reply
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
    outcome.issue
        = failureIssue(m_lastError, m_failureLines, m_request.onlyModel.has_value(), m_client.webOrigin());
    if (m_lastError)
        qCWarning(lcConversation).nospace()
            << "no answer: " << m_tried.size() << " model(s) asked in " << m_sinceStart.elapsed()
            << " ms, the last (" << m_model.id << ") failed with " << kindName(m_lastError->kind())
            << ", status " << m_lastError->status();
    else
        qCWarning(lcConversation) << "no answer: no free model was offered";
    finish(outcome);
}

void ReplyWithFallback::finish(const ReplyOutcome &outcome)
{
    m_limitWait.stop();
    const auto emitFinished = [this, outcome] { Q_EMIT finished(outcome); };
    if (m_starting)
        deliverLater(emitFinished);
    else
        deliver(emitFinished);
}
