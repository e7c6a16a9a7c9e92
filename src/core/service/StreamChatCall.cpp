#include "core/service/StreamChatCall.h"

#include "core/service/ReplyTools.h"
#include "core/service/ServiceLog.h"
#include "core/service/StreamEvent.h"
#include "core/util/TextUtil.h"

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
    if (ReplyTools::isSuccess(*status))
        readEvents();
    else
        readErrorBody(*status);
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
    QPointer<StreamChatCall> alive(this);
    readEvents();
    if (!alive || !canDeliver())
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        finish(ReplyTools::transportFailure(*m_reply, isCancelled()));
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
    const StreamEvent event = StreamEvent::parse(line);
    switch (event.kind) {
    case StreamEvent::Kind::ignored:
        return;
    case StreamEvent::Kind::done:
        finish(m_result);
        return;
    case StreamEvent::Kind::failed:
        finish(*event.error);
        return;
    case StreamEvent::Kind::chunk:
        break;
    }
    if (!m_result.firstChunkAfter) {
        m_result.firstChunkAfter = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
        m_deadline.stop();
        qCDebug(lcService) << "first stream event after" << *m_result.firstChunkAfter << "s";
    }
    if (event.model && !event.model->isEmpty())
        m_result.modelUsed = event.model;
    QPointer<StreamChatCall> alive(this);
    if (!event.content.isEmpty())
        deliverText(event.content);
    if (alive && canDeliver() && event.finishedWithError)
        finish(StreamEvent::finishReasonError());
}

void StreamChatCall::deliverText(const QString &text)
{
    m_result.chars += TextUtil::graphemeCount(text);
    if (m_onToken)
        m_onToken(text);
}

void StreamChatCall::finish(const StreamOutcome &outcome)
{
    deliver([this, &outcome] {
        m_deadline.stop();
        ReplyTools::discard(m_reply, this);
        Q_EMIT finished(outcome);
    });
}
