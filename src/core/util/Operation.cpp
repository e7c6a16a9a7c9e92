#include "core/util/Operation.h"

Operation::Operation(QObject *parent)
    : QObject(parent)
{
}

void Operation::cancel()
{
    if (m_phase == Phase::delivered || m_phase == Phase::cancelled)
        return;
    m_phase = Phase::cancelled;
    stopWork();
    deleteLater();
}

bool Operation::markFinished()
{
    if (m_phase != Phase::running)
        return false;
    m_phase = Phase::decided;
    return true;
}
