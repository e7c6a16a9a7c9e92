#pragma once

#include "service/ORError.h"
#include "service/ServiceCall.h"

#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QUuid>
#include <optional>

// One run of a reply with fallback across models: what it has tried and
// learned so far, and the stream of the attempt now running. Owned by the
// controller while it is the current generation; a generation that has been
// replaced or stopped is stale, and whatever its stream still delivers is
// dropped by its number.
class Generation
{
public:
    struct Failure {
        QString name;
        QString reason;
    };

    Generation(quint64 number, const QUuid &messageId, const QString &key, bool needsImages)
        : number(number)
        , messageId(messageId)
        , key(key)
        , needsImages(needsImages)
    {
    }
    ~Generation() { cancel(); }
    Generation(const Generation &) = delete;
    Generation &operator=(const Generation &) = delete;

    const quint64 number;
    const QUuid messageId; // the reply being filled
    const QString key;
    const bool needsImages;

    int attempt = 0;
    ORModel model; // of the running attempt
    QSet<QString> tried;
    QStringList failureLines;
    std::optional<Failure> firstFailure;
    std::optional<ORError> lastError;

    void setCall(StreamCall *call) { m_call = call; }
    StreamCall *call() const { return m_call; }
    // Forgets the running stream without cancelling it.
    StreamCall *takeCall()
    {
        StreamCall *call = m_call;
        m_call = nullptr;
        return call;
    }
    // Cancels the running stream on purpose: its `cancelled` outcome is then
    // expected and silent. Any other `cancelled` is a failure.
    void cancel()
    {
        if (StreamCall *call = takeCall()) {
            m_cancelRequested = true;
            call->cancel();
        }
    }
    bool cancelRequested() const { return m_cancelRequested; }

private:
    QPointer<StreamCall> m_call;
    bool m_cancelRequested = false;
};
