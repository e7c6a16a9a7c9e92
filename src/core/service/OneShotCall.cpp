#include "core/service/OneShotCall.h"

#include "core/service/ReplyTools.h"

OneShotCall::~OneShotCall()
{
    ReplyTools::discard(m_reply, this);
}

void OneShotCall::start(QNetworkAccessManager &network, const QNetworkRequest &request)
{
    m_reply = network.get(request);
    connect(m_reply, &QNetworkReply::finished, this, &OneShotCall::onReplyFinished);
}

void OneShotCall::failSoon(const ORError &error)
{
    deliverLater([this, error] { Q_EMIT finished(error); });
}

void OneShotCall::abortTransfer()
{
    ReplyTools::discard(m_reply, this);
}

void OneShotCall::onReplyFinished()
{
    if (!canDeliver())
        return;
    const std::optional<int> status = ReplyTools::status(*m_reply);
    if (!status) {
        const bool failed = m_reply->error() != QNetworkReply::NoError;
        finish(failed ? ReplyTools::transportFailure(*m_reply, isCancelled())
                      : ORError::other(QStringLiteral("Unexpected response.")));
    } else if (!ReplyTools::isSuccess(*status)) {
        finish(ReplyTools::httpFailure(*m_reply, *status, ReplyTools::readRest(*m_reply)));
    } else if (m_reply->error() != QNetworkReply::NoError) {
        finish(ReplyTools::transportFailure(*m_reply, isCancelled()));
    } else {
        finish(ReplyTools::readRest(*m_reply));
    }
}

void OneShotCall::finish(const BytesOutcome &outcome)
{
    deliver([this, &outcome] {
        ReplyTools::discard(m_reply, this);
        Q_EMIT finished(outcome);
    });
}
