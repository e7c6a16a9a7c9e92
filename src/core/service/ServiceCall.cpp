#include "service/ServiceCall.h"

void ServiceCall::cancel()
{
    if (!canDeliver())
        return;
    m_cancelled = true;
    abortTransfer();
    // Delivered from the event loop, so that a caller who cancels from inside
    // one of its own handlers never sees finished re-entrantly.
    QMetaObject::invokeMethod(this, &ServiceCall::deliverCancelled, Qt::QueuedConnection);
}

void ServiceCall::deliverCancelled()
{
    if (m_finished)
        return;
    m_finished = true;
    finishCancelled();
    deleteLater();
}

bool ServiceCall::markFinished()
{
    if (!canDeliver())
        return false;
    m_finished = true;
    return true;
}

void StreamCall::finishCancelled()
{
    Q_EMIT finished(ORError::cancelled());
}

void BytesCall::finishCancelled()
{
    Q_EMIT finished(ORError::cancelled());
}

void ModelsCall::finishCancelled()
{
    Q_EMIT finished(ORError::cancelled());
}

void StatsCall::finishCancelled()
{
    Q_EMIT finished(std::nullopt);
}

void ProbeCall::finishCancelled()
{
    Q_EMIT finished(ORError::cancelled());
}

void KeyCheckCall::finishCancelled()
{
    Q_EMIT finished(ORError::cancelled());
}
