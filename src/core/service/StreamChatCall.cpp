#include "core/service/StreamChatCall.h"

#include "core/service/ReplyTools.h"
#include "core/service/ServiceLog.h"
#include "core/service/StreamEvent.h"
#include "core/util/TextUtil.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

StreamChatCall::StreamChatCall(
    std::chrono::milliseconds firstEventDeadline, TokenSink onToken, QObject *parent)
    : StreamCall(parent)
    , m_onToken(std::move(onToken))
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    m_deadline.setInterval(firstEventDeadline);
    connect(&m_deadline, &QTimer::timeout, this, &StreamChatCall::onDeadline);
}

StreamChatCall::~StreamChatCall()
{
    ReplyTools::discard(m_reply, this);
}

std::chrono::milliseconds StreamChatCall::deadlineFromSeconds(double seconds)
{
    constexpr double longest = std::numeric_limits<int>::max() / 1000.0;
    if (!(seconds > 0))
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<qint64>(std::min(seconds, longest) * 1000.0));
}

void StreamChatCall::start(
    QNetworkAccessManager &network, const QNetworkRequest &request, const QByteArray &body)
{
    m_clock.start();
    m_reply = network.post(request, body);
    connect(m_reply, &QNetworkReply::readyRead, this, &StreamChatCall::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &StreamChatCall::onReplyFinished);
    m_deadline.start();
}

void StreamChatCall::failSoon(const ORError &error)
{
    deliverLater([this, error] { Q_EMIT finished(error); });
}

void StreamChatCall::abortTransfer()
{
    m_deadline.stop();
    ReplyTools::discard(m_reply, this);
}

void StreamChatCall::onReadyRead()
{
    if (!canDeliver())
        return;
    const std::optional<int> status = ReplyTools::status(*m_reply);
    if (!status)
        return;
    if (!ReplyTools::isSuccess(*status))
        readErrorBody(*status);
    else if (isJsonAnswer())
        readWholeBody();
    else
        readEvents();
}

bool StreamChatCall::isJsonAnswer() const
{
    return m_reply->header(QNetworkRequest::ContentTypeHeader)
        .toString()
        .startsWith(QLatin1String("application/json"), Qt::CaseInsensitive);
}

void StreamChatCall::readWholeBody()
{
    // No event arrives on this path; the body's arrival is its first sign.
    if (!m_result.firstChunkAfter) {
        m_result.firstChunkAfter = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
        m_deadline.stop();
    }
    const qsizetype room = errorBodyLimit + 1 - m_errorBody.size();
    if (room > 0)
        m_errorBody += ReplyTools::readRest(*m_reply, room);
}

void StreamChatCall::onReplyFinished()
{
    if (!canDeliver())
        return;
    const std::optional<int> status = ReplyTools::status(*m_reply);
    if (!status) {
        const bool failed = m_reply->error() != QNetworkReply::NoError;
        finish(failed ? ReplyTools::transportFailure(*m_reply, isCancelled())
                      : ORError::other(QStringLiteral("Unexpected response.")));
        return;
    }
    if (!ReplyTools::isSuccess(*status)) {
        // A body cut short by a failure is classified with what did arrive.
        readErrorBody(*status);
        if (canDeliver())
            finish(ReplyTools::httpFailure(*m_reply, *status, m_errorBody));
        return;
    }
    if (isJsonAnswer()) {
        readWholeBody();
        answerFromJson();
        return;
    }
    QPointer<StreamChatCall> alive(this);
    readEvents();
    if (!alive || !canDeliver())
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        const ORError failure = ReplyTools::transportFailure(*m_reply, isCancelled());
        // Text that arrived stays the person's: the answer ends here, marked
        // as cut by its missing ending.
        if (m_result.chars > 0 && !failure.is(ORError::Kind::cancelled)) {
            qCInfo(lcService) << "the stream broke after" << m_result.chars
                              << "characters:" << failure.kind();
            finish(m_result);
        } else {
            finish(failure);
        }
        return;
    }
    if (const std::optional<QByteArray> last = m_lines.finish()) {
        handleLine(*last);
        if (!alive || !canDeliver())
            return;
    }
    finish(m_result);
}

void StreamChatCall::onDeadline()
{
    if (!canDeliver() || m_result.firstChunkAfter)
        return;
    qCInfo(lcService) << "no stream event within" << m_deadline.interval() << "ms";
    finish(ORError::timeout());
}

void StreamChatCall::readErrorBody(int status)
{
    const qsizetype room = errorBodyLimit + 1 - m_errorBody.size();
    if (room > 0)
        m_errorBody += ReplyTools::readRest(*m_reply, room);
    if (m_errorBody.size() > errorBodyLimit)
        finish(ReplyTools::httpFailure(*m_reply, status, m_errorBody));
}

void StreamChatCall::readEvents()
{
    m_lines.feed(ReplyTools::readRest(*m_reply));
    // onToken may cancel the call or even delete it; stop at once then.
    QPointer<StreamChatCall> alive(this);
    while (alive && canDeliver()) {
        const std::optional<QByteArray> line = m_lines.next();
        if (!line)
            return;
        handleLine(*line);
    }
}

void StreamChatCall::handleLine(QByteArrayView line)
{
    const StreamEvent event
        = StreamEvent::parse(line, m_reply ? m_reply->rawHeaderPairs() : ErrorReport::Headers());
    switch (event.kind) {
    case StreamEvent::Kind::ignored:
        return;
    case StreamEvent::Kind::done:
        m_result.sawDone = true;
        finish(m_result);
        return;
    case StreamEvent::Kind::failed:
        finish(*event.error);
        return;
    case StreamEvent::Kind::chunk:
        break;
    }
    takeChunk(event);
}

void StreamChatCall::takeChunk(const StreamEvent &event)
{
    if (!m_result.firstChunkAfter) {
        m_result.firstChunkAfter = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
        m_deadline.stop();
        qCDebug(lcService) << "first stream event after" << *m_result.firstChunkAfter << "s";
    }
    if (event.model && !event.model->isEmpty())
        m_result.modelUsed = event.model;
    // The usage chunk may repeat "stop" after a "length" or
    // "content_filter": the cut is what counts.
    if (event.finishReason && (!m_result.finishReason || m_result.finishReason == QLatin1String("stop")))
        m_result.finishReason = event.finishReason;
    QPointer<StreamChatCall> alive(this);
    if (!event.reasoning.isEmpty())
        deliverReasoning(event.reasoning);
    if (alive && canDeliver() && !event.content.isEmpty())
        deliverText(event.content);
    if (alive && canDeliver() && event.finishedWithError)
        finish(StreamEvent::finishReasonError());
}

// A streaming request answered with one JSON body: an error in the shape of
// an error response, or (rarely) a whole completion.
void StreamChatCall::answerFromJson()
{
    const QJsonObject body = QJsonDocument::fromJson(m_errorBody).object();
    const QJsonValue error = body.value(QLatin1String("error"));
    if (error.isObject()) {
        const ORError classified = ORError::classify(ErrorReport::fromStreamError(
            error.toObject(), m_reply->rawHeaderPairs(), QDateTime::currentMSecsSinceEpoch()));
        qCWarning(lcService) << "a stream was answered with an error body:" << classified.kind();
        finish(classified);
        return;
    }
    const QJsonObject choice = body.value(QLatin1String("choices")).toArray().first().toObject();
    const QJsonValue content
        = choice.value(QLatin1String("message")).toObject().value(QLatin1String("content"));
    const QJsonValue model = body.value(QLatin1String("model"));
    if (model.isString() && !model.toString().isEmpty())
        m_result.modelUsed = model.toString();
    if (choice.value(QLatin1String("finish_reason")).isString())
        m_result.finishReason = choice.value(QLatin1String("finish_reason")).toString();
    m_result.sawDone = true;
    QPointer<StreamChatCall> alive(this);
    if (content.isString() && !content.toString().isEmpty())
        deliverText(content.toString());
    if (alive && canDeliver())
        finish(m_result);
}

void StreamChatCall::deliverText(const QString &text)
{
    m_result.chars += TextUtil::graphemeCount(text);
    QPointer<StreamChatCall> alive(this);
    Q_EMIT textArrived(text);
    if (alive && canDeliver() && m_onToken)
        m_onToken(text);
}

void StreamChatCall::deliverReasoning(const QString &text)
{
    Q_EMIT reasoningArrived(text);
}

void StreamChatCall::finish(const StreamOutcome &outcome)
{
    deliver([this, &outcome] {
        m_deadline.stop();
        ReplyTools::discard(m_reply, this);
        Q_EMIT finished(outcome);
    });
}
