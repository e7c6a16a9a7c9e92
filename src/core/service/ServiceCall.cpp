#include "service/ServiceCall.h"

void ServiceCall::afterCancel()
{
    // From the event loop, so that a caller who cancels from inside one of
    // its own handlers never sees finished re-entrantly.
    QMetaObject::invokeMethod(
        this,
        [this] {
            finishCancelled();
            deleteLater();
        },
        Qt::QueuedConnection);
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
