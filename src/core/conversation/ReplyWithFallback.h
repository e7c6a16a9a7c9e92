#pragma once

#include "core/ranker/ModelRanker.h"
#include "core/records/ChatRecords.h"
#include "core/service/OpenRouterClient.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
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

    bool operator==(const ReplyOutcome &) const = default;
};

// One model left for the next.
struct ReplySwitch {
    ORModel from; // the model that failed
    ORModel to; // the model asked now
    QString reason; // why `from` was left, in the words of the note

    bool operator==(const ReplySwitch &) const = default;
};

// One reply, with fallback across the free models. It asks the ranker for
// the best candidate and streams that model's answer; when the model fails
// (slow to start, an empty reply, a rate limit or a provider error in the
// middle of a reply, a model gone) it cools the model in the ranker, drops
// it and asks the next one, up to maxAttempts models. A daily limit and a
// rejected key end the reply at once: they are the account's, not the
// model's, so no model is cooled for them.
//
// It reports the text of the model being asked as it arrives, each switch
// (after which the earlier model's text no longer counts), and exactly one
// finished, unless it is abandoned first. finished may come from inside
// start(), when no model is offered at all. Main thread only.
class ReplyWithFallback : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QString key;
        // The conversation to answer, oldest first, without the reply itself.
        QList<ChatMessage> history;
        // The chat's pinned model, read again for every model asked: a pin
        // set while the reply runs counts from the next model on.
        std::function<std::optional<QString>()> pinnedModel;
    };

    static constexpr int maxAttempts = 4;
    static constexpr double firstChunkDeadline = 8.0; // seconds

    ReplyWithFallback(
        OpenRouterClient &client, ModelRanker &ranker, Request request, QObject *parent = nullptr);
    // Abandons the reply.
    ~ReplyWithFallback() override;

    // Asks the first model. Once only.
    void start();
    // Guarantees that nothing more is delivered, ever: no text, no switch,
    // no finished. The running stream is disconnected before it is
    // cancelled, so whatever that call still emits, its cancelled outcome
    // included, never comes back here. May be called from inside any of the
    // reply's own signals, and from slots of the ranker's signals.
    void abandon();
    // Started and neither finished nor abandoned.
    bool isRunning() const { return m_started && !m_ended; }

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
    // no model was tried at all.
    static AppIssue failureIssue(const std::optional<ORError> &lastError, const QStringList &failureLines);
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

Q_SIGNALS:
    // A piece of the answer of the model being asked.
    void textArrived(const QString &piece);
    // The model that failed is left; the text it sent no longer counts.
    void switched(const ReplySwitch &change);
    void finished(const ReplyOutcome &outcome);

private:
    struct Failure {
        QString name;
        QString reason;
    };

    void askNext();
    void onText(const QString &piece);
    void attemptFinished(const StreamOutcome &outcome);
    void callVanished();
    void answered(const StreamResult &result);
    void attemptFailed(const ORError &error);
    void fail();
    void finish(const ReplyOutcome &outcome);
    // Stops listening to the running call, its text included; returns it.
    StreamCall *detachCall();

    OpenRouterClient &m_client;
    ModelRanker &m_ranker;
    const Request m_request;
    const bool m_needsImages;
    double m_firstChunkDeadline = firstChunkDeadline;

    bool m_started = false;
    bool m_ended = false; // finished or abandoned: nothing more goes out
    int m_attempt = 0;
    ORModel m_model; // being asked
    QSet<QString> m_tried;
    QStringList m_failureLines;
    std::optional<Failure> m_firstFailure;
    std::optional<ORError> m_lastError;

    QPointer<StreamCall> m_call;
    QMetaObject::Connection m_callFinished;
    QMetaObject::Connection m_callGone;
    // Shared with the running call's text callback, which has no Qt
    // connection to break: closed when the call is detached.
    std::shared_ptr<bool> m_textGate;
    bool m_sawText = false; // from the model being asked

    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceAsked;
};
