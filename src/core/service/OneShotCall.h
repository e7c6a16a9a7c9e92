#pragma once

#include "core/service/ServiceCall.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

// A one-shot GET whose whole body is the result when the status is 2xx.
class OneShotCall final : public BytesCall
{
    Q_OBJECT
public:
    using BytesCall::BytesCall;
    ~OneShotCall() override;

    void start(QNetworkAccessManager &network, const QNetworkRequest &request);
    // Finishes with error from the event loop (the request could not be made).
    void failSoon(const ORError &error);

protected:
    void abortTransfer() override;

private:
    void onReplyFinished();
    void finish(const BytesOutcome &outcome);

    QPointer<QNetworkReply> m_reply;
};
