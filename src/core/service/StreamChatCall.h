#pragma once

#include "core/service/LineSplitter.h"
#include "core/service/ServiceCall.h"

struct StreamEvent;

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>

// One streamed chat completion: reads the event stream as it arrives, hands
// each piece of text to onToken and textArrived (reasoning to
// reasoningArrived), and races the stream against a deadline for its first
// event. A transfer that breaks after some text ends as a result whose
// missing finish reason and "[DONE]" say it was cut: the text is the
// person's to keep. The service sometimes answers a streaming request with
// one JSON body instead of events; an error body is classified like an
// error status, a whole answer is delivered as one piece.
class StreamChatCall final : public StreamCall
{
    Q_OBJECT
public:
    using TokenSink = std::function<void(const QString &)>;

    // Most bytes of an error response that are worth reading: the body is
    // read until it holds more than this, then the transfer is dropped.
    static constexpr qsizetype errorBodyLimit = 20000;

    StreamChatCall(std::chrono::milliseconds firstEventDeadline, TokenSink onToken, QObject *parent);
    ~StreamChatCall() override;

    // Posts body; the first-event clock starts just before.
    void start(QNetworkAccessManager &network, const QNetworkRequest &request, const QByteArray &body);
    // Finishes with error from the event loop (the request could not be made).
    void failSoon(const ORError &error);

    static std::chrono::milliseconds deadlineFromSeconds(double seconds);

protected:
    void abortTransfer() override;

private:
    void onReadyRead();
    void onReplyFinished();
    void onDeadline();
    void readErrorBody(int status);
    void readWholeBody();
    void readEvents();
    void handleLine(QByteArrayView line);
    void takeChunk(const StreamEvent &event);
    void answerFromJson();
    void deliverText(const QString &text);
    void deliverReasoning(const QString &text);
    // The response is one JSON body rather than an event stream.
    bool isJsonAnswer() const;
    void finish(const StreamOutcome &outcome);

    TokenSink m_onToken;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    QPointer<QNetworkReply> m_reply;
    LineSplitter m_lines;
    QByteArray m_errorBody; // of an error status, or the whole of a JSON answer
    StreamResult m_result;
};
