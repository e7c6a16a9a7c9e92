#pragma once

#include "core/ranker/ModelRanker.h"
#include "core/records/ChatRecords.h"
#include "core/service/OpenRouterClient.h"
#include "core/util/Operation.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

// How a reply ended.
struct ReplyOutcome {
    enum Kind {
        answered, // answeredBy, and note after a switch, sign the answer
        failed, // no model answered; issue says why
        keyRejected, // the service refused the key: no model is to blame
    };
    Kind kind = failed;
    QString answeredBy; // display name of the model that answered
    std::optional<QString> note; // "switched from <name> because <reason>"
    AppIssue issue;
    // Of an answer: the model that served it as the service named it (the
    // router's answers name the model behind it), and how the answer ended
    // when it is not whole.
    QString modelId = QString();
    std::optional<AnswerCut> cut = std::nullopt;
    // The answering stream's first event, in seconds: a measurement, not
    // part of what the reply says.
    std::optional<double> firstEventSeconds = std::nullopt;

    bool operator==(const ReplyOutcome &other) const
    {
        return kind == other.kind && answeredBy == other.answeredBy && note == other.note
            && issue == other.issue && modelId == other.modelId && cut == other.cut;
    }
};

// One model left for the next.
struct ReplySwitch {
    ORModel from; // the model that failed
    ORModel to; // the model asked now
    QString reason; // why `from` was left, in the words of the note

    bool operator==(const ReplySwitch &) const = default;
};

// One reply, with fallback across the free models, as an Operation. It asks
// the ranker for the best candidate and streams that model's answer; when
// the model fails (slow to start, an empty reply, a provider's rate limit or
// error, a model gone) it cools the model in the ranker and asks the next
// one, up to maxAttempts models. What is the account's and not a model's
// ends the reply at once and cools nothing: a rejected key, the daily limit,
// a negative balance, privacy settings that exclude the free models. The
// account's per-minute limit is waited out once (the same model is asked
// again when it resets); a conversation too long for a model is sent once
// more, trimmed to what the model said it reads; a provider's moderation is
// taken to one other model.
//
// Progress comes as signals before the one finished: the text and the
// reasoning of the model being asked, each switch to another model, a wait
// for the per-minute limit, and each time the same model is asked again;
// after a switch, a wait or a new ask, the text that came before no longer
// counts. finished is never emitted from inside start(). Main thread only.
class ReplyWithFallback : public Operation
{
    Q_OBJECT
public:
    struct Request {
        QString key;
        // The conversation to answer, oldest first, without the reply
        // itself; to continue a cut answer, ending with that answer.
        QList<ChatMessage> history;
        // The chat's pinned model, read again for every model asked: a pin
        // set while the reply runs counts from the next model on.
        std::function<std::optional<QString>()> pinnedModel;
        // This model alone, with no fallback and no ranker's choice.
        std::optional<ORModel> onlyModel = std::nullopt;
    };

    static constexpr int maxAttempts = 4;
    static constexpr double firstChunkDeadline = 8.0; // seconds
    // The longest wait for the per-minute limit before the reply gives up.
    static constexpr double longestLimitWait = 60.0; // seconds

    ReplyWithFallback(
        OpenRouterClient &client, ModelRanker &ranker, Request request, QObject *parent = nullptr);
    ~ReplyWithFallback() override;

    // Asks the first model. Once only.
    void start();
    // Started and neither finished nor cancelled.
    bool isRunning() const { return m_started && !isFinished() && !isCancelled(); }

    // Test seam; the product keeps firstChunkDeadline. Read as each model
    // is asked.
    void setFirstChunkDeadline(double seconds) { m_firstChunkDeadline = seconds; }

    // The rules of a reply with fallback (ReplyWithFallbackRules.cpp).

    // Why a model was left, for "switched from <name> because <reason>".
    static QString switchReason(const ORError &error);
    static QString switchNote(const QString &firstFailedName, const QString &reason);
    // One line of a failed reply's details: "<model name>: <error details>".
    static QString failureLine(const ORModel &model, const ORError &error);
    // What a reply that got no answer tells the user. lastError is empty when
    // no model was tried at all; alone when one model was asked with no
    // fallback; webOrigin is where the service's settings pages are.
    static AppIssue failureIssue(const std::optional<ORError> &lastError, const QStringList &failureLines,
        bool alone = false, const QString &webOrigin = QString());
    // How a model is named: the catalogue's name when known, else the last
    // non-empty "/" piece of the identifier (the whole identifier when there
    // is none) with every ":free" removed.
    static QString displayName(const std::optional<ORModel> &known, const QString &modelId);
    // Whether and for how long a failed model is put aside.
    struct Cooling {
        bool cool = false;
        std::optional<double> retryAfter;
    };
    static Cooling coolingFor(const ORError &error);
    // A failure after which no further model is asked.
    static bool endsReply(const ORError &error);
    // How a stream that brought text ended, when the answer is not whole.
    static std::optional<AnswerCut> cutOf(const StreamResult &result);

Q_SIGNALS:
    // A piece of the answer of the model being asked.
    void textArrived(const QString &piece);
    // A piece of that model's reasoning.
    void reasoningArrived(const QString &piece);
    // The model that failed is left; the text it sent no longer counts.
    void switched(const ReplySwitch &change);
    // The account's per-minute limit is full: the text so far no longer
    // counts, and the same model is asked again once until has passed.
    void waitingForLimit(const QDeadlineTimer &until);
    // The same model is asked again; the text so far no longer counts.
    void retrying();
    void finished(const ReplyOutcome &outcome);

protected:
    void stopWork() override;

private:
    struct Failure {
        QString name;
        QString reason;
    };

    void askNext();
    void ask();
    void attemptFinished(const StreamOutcome &outcome);
    void callVanished();
    void answered(const StreamResult &result);
    void attemptFailed(const ORError &error);
    bool retryTrimmed(const ORError &error);
    void waitForLimit(double seconds);
    void moveOn(const ORError &error);
    void fail();
    void finish(const ReplyOutcome &outcome);
    // Stops listening to the running call; returns it.
    StreamCall *detachCall();
    // The model as the history is fitted to it: its own context, or what
    // the service said it reads.
    ORModel windowModel() const;

    OpenRouterClient &m_client;
    ModelRanker &m_ranker;
    const Request m_request;
    const bool m_needsImages;
    double m_firstChunkDeadline = firstChunkDeadline;

    bool m_started = false;
    bool m_starting = false; // inside start(): an outcome waits for the event loop
    int m_attempt = 0;
    ORModel m_model; // being asked
    std::optional<int> m_contextLimit; // the trimmed window of the model being asked
    QSet<QString> m_tried;
    QStringList m_failureLines;
    std::optional<Failure> m_firstFailure;
    std::optional<ORError> m_lastError;
    bool m_waitedForLimit = false;
    int m_flaggedAnswers = 0;

    QPointer<StreamCall> m_call;
    QList<QMetaObject::Connection> m_callConnections;
    QTimer m_limitWait;

    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceAsked;
};
