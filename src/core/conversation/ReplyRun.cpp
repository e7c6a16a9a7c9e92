#include "core/conversation/ReplyRun.h"

#include <algorithm>

ReplyRun::ReplyRun(
    ReplyWithFallback *job, Chat &chat, const QUuid &messageId, Base base, Clock clock, QObject *parent)
    : QObject(parent)
    , m_job(job)
    , m_chat(chat)
    , m_messageId(messageId)
    , m_base(std::move(base))
    , m_clock(std::move(clock))
{
    // Its child: a run that goes takes its job with it, which silences it.
    job->setParent(this);
    m_flushTimer.setSingleShot(true);
    // A coarse timer may fire early, which would flush more often than once
    // per interval.
    m_flushTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_flushTimer, &QTimer::timeout, this, &ReplyRun::fireScheduledFlush);
    connect(job, &ReplyWithFallback::textArrived, this, &ReplyRun::receive);
    connect(job, &ReplyWithFallback::reasoningArrived, this, &ReplyRun::receiveReasoning);
    connect(job, &ReplyWithFallback::switched, this, &ReplyRun::onSwitched);
    connect(job, &ReplyWithFallback::waitingForLimit, this, &ReplyRun::onWaiting);
    connect(job, &ReplyWithFallback::retrying, this, &ReplyRun::onRetrying);
    connect(job, &ReplyWithFallback::finished, this, &ReplyRun::onFinished);
}

ReplyRun::~ReplyRun()
{
    cancelOperation(m_job);
}

void ReplyRun::start()
{
    if (m_job)
        m_job->start();
}

void ReplyRun::stop()
{
    // The text held back for the next flush has arrived: it is kept like
    // the rest, before the job is stopped.
    flush();
    m_flushTimer.stop();
    cancelOperation(m_job);
}

ChatMessage *ReplyRun::message()
{
    // The reply being filled is normally the last message.
    for (qsizetype i = m_chat.messages.size() - 1; i >= 0; --i) {
        if (m_chat.messages.at(i).id == m_messageId)
            return &m_chat.messages[i];
    }
    return nullptr;
}

void ReplyRun::receive(const QString &piece)
{
    // The first text ends the reasoning: how long it took is kept with it.
    if (m_firstReasoningAt && !m_pendingReasoningSeconds) {
        const ChatMessage *reply = message();
        if (!reply || !reply->reasoningSeconds)
            m_pendingReasoningSeconds
                = std::chrono::duration<double>(m_clock() - *m_firstReasoningAt).count();
    }
    m_buffer += piece;
    bufferArrived();
}

void ReplyRun::receiveReasoning(const QString &piece)
{
    if (!m_firstReasoningAt)
        m_firstReasoningAt = m_clock();
    m_reasoningBuffer += piece;
    bufferArrived();
}

void ReplyRun::bufferArrived()
{
    setThinking(false);
    const std::chrono::nanoseconds now = m_clock();
    if (!m_lastFlush || now - *m_lastFlush > flushInterval) {
        flush();
        return;
    }
    if (!m_flushTimer.isActive()) {
        const auto remaining = std::clamp<std::chrono::nanoseconds>(
            flushInterval - (now - *m_lastFlush), std::chrono::nanoseconds(0), flushInterval);
        m_flushTimer.start(std::chrono::ceil<std::chrono::milliseconds>(remaining));
    }
}

void ReplyRun::fireScheduledFlush()
{
    m_flushTimer.stop();
    flush();
}

void ReplyRun::flush()
{
    m_lastFlush = m_clock();
    m_flushTimer.stop();
    if (m_buffer.isEmpty() && m_reasoningBuffer.isEmpty())
        return;
    if (ChatMessage *reply = message()) {
        reply->text += m_buffer;
        if (!m_reasoningBuffer.isEmpty())
            reply->reasoning = reply->reasoning.value_or(QString()) + m_reasoningBuffer;
        if (m_pendingReasoningSeconds && !m_buffer.isEmpty() && !reply->reasoningSeconds)
            reply->reasoningSeconds = m_pendingReasoningSeconds;
    }
    m_buffer.clear();
    m_reasoningBuffer.clear();
    Q_EMIT messageChanged();
}

// What the attempt that failed wrote goes with it; the message holds what
// it held before the run.
void ReplyRun::discard()
{
    m_buffer.clear();
    m_reasoningBuffer.clear();
    m_firstReasoningAt.reset();
    m_pendingReasoningSeconds.reset();
    m_flushTimer.stop();
    ChatMessage *reply = message();
    if (!reply
        || (reply->text == m_base.text && reply->reasoning == m_base.reasoning
            && reply->reasoningSeconds == m_base.reasoningSeconds))
        return;
    reply->text = m_base.text;
    reply->reasoning = m_base.reasoning;
    reply->reasoningSeconds = m_base.reasoningSeconds;
    Q_EMIT messageChanged();
}

void ReplyRun::setThinking(bool on)
{
    if (m_isThinking == on)
        return;
    m_isThinking = on;
    Q_EMIT thinkingChanged();
}

void ReplyRun::setLimitWait(const std::optional<QDeadlineTimer> &until)
{
    if (m_limitWait.has_value() == until.has_value()
        && (!until || m_limitWait->deadlineNSecs() == until->deadlineNSecs()))
        return;
    m_limitWait = until;
    Q_EMIT limitWaitChanged();
}

void ReplyRun::onSwitched()
{
    discard();
    setThinking(true);
    setLimitWait(std::nullopt);
    Q_EMIT switched();
}

void ReplyRun::onWaiting(const QDeadlineTimer &until)
{
    discard();
    setThinking(true);
    setLimitWait(until);
}

void ReplyRun::onRetrying()
{
    discard();
    setThinking(true);
    setLimitWait(std::nullopt);
}

void ReplyRun::onFinished(const ReplyOutcome &outcome)
{
    m_job = nullptr; // it has delivered, and deletes itself
    if (outcome.kind != ReplyOutcome::answered) {
        discard();
    } else {
        flush();
        if (ChatMessage *reply = message()) {
            // A continuation keeps the answer's signature; its ending is new.
            if (!m_base.continuing) {
                reply->answeredBy = outcome.answeredBy;
                reply->note = outcome.note;
            }
            reply->modelId = outcome.modelId;
            reply->cut = outcome.cut;
            Q_EMIT messageChanged();
        }
    }
    m_flushTimer.stop();
    setThinking(false);
    setLimitWait(std::nullopt);
    Q_EMIT finished(outcome);
}
