#pragma once

#include "core/conversation/ReplyWithFallback.h"
#include "core/records/ChatRecords.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <chrono>
#include <functional>
#include <optional>

// One reply running into one message of the open chat: the reply job, the
// text and reasoning it streams, copied into the message at most once per
// flushInterval (a piece held back is copied when the interval ends, also
// when no further piece comes), what a failed attempt wrote undone, and
// what the row that waits for the answer shows. At the end it signs the
// message (or undoes what the run wrote) and tells how the reply ended;
// whether the message then stays is the chat's decision. The chat outlives
// the run. Main thread only.
class ReplyRun : public QObject
{
    Q_OBJECT
public:
    // A monotonic clock; only differences between its readings matter.
    using Clock = std::function<std::chrono::nanoseconds()>;

    static constexpr std::chrono::milliseconds flushInterval{ 40 };

    // What the message held before the run: nothing for a new answer, the
    // cut answer for a continuation, which keeps its signature.
    struct Base {
        QString text;
        std::optional<QString> reasoning;
        std::optional<double> reasoningSeconds;
        bool continuing = false;
    };

    // Takes job, which must not have started.
    ReplyRun(ReplyWithFallback *job, Chat &chat, const QUuid &messageId, Base base, Clock clock,
        QObject *parent = nullptr);
    // Stops the job: nothing more is delivered.
    ~ReplyRun() override;

    void start();
    // Puts what waits for the next flush into the message and stops the job,
    // which says nothing more.
    void stop();

    const QUuid &messageId() const { return m_messageId; }
    bool isContinuation() const { return m_base.continuing; }
    // The model now asked has sent nothing yet: the waiting row shows.
    bool isThinking() const { return m_isThinking; }
    const std::optional<QDeadlineTimer> &limitWait() const { return m_limitWait; }

    // One piece of the answer's text, or of its reasoning.
    void receive(const QString &piece);
    void receiveReasoning(const QString &piece);
    // Copies what waits into the message.
    void flush();

    // Test seams.
    bool isFlushScheduled() const { return m_flushTimer.isActive(); }
    // Does what the flush timer does when it fires.
    void fireScheduledFlush();

Q_SIGNALS:
    // The message's text or reasoning changed.
    void messageChanged();
    void thinkingChanged();
    void limitWaitChanged();
    // A later model is being asked.
    void switched();
    // The reply ended: an answer was signed, or what the run wrote was
    // undone. After it the run does nothing more.
    void finished(const ReplyOutcome &outcome);

private:
    ChatMessage *message();
    void bufferArrived();
    void discard();
    void setThinking(bool on);
    void setLimitWait(const std::optional<QDeadlineTimer> &until);
    void onSwitched();
    void onWaiting(const QDeadlineTimer &until);
    void onRetrying();
    void onFinished(const ReplyOutcome &outcome);

    QPointer<ReplyWithFallback> m_job;
    Chat &m_chat;
    const QUuid m_messageId;
    const Base m_base;
    const Clock m_clock;

    QString m_buffer;
    QString m_reasoningBuffer;
    std::optional<std::chrono::nanoseconds> m_lastFlush; // none: the distant past
    QTimer m_flushTimer;
    // When the first reasoning arrived, and how long the model reasoned once
    // its first text came (written with the next flush).
    std::optional<std::chrono::nanoseconds> m_firstReasoningAt;
    std::optional<double> m_pendingReasoningSeconds;
    bool m_isThinking = true;
    std::optional<QDeadlineTimer> m_limitWait;
};
