#include "auth/KeyringCall.h"

#include "auth/Keyring.h"
#include "auth/KeyringQueue.h"

KeyringCall::KeyringCall(Keyring &keyring, quint64 id)
    : QObject(&keyring)
    , m_keyring(&keyring)
    , m_id(id)
{
}

void KeyringCall::abandon()
{
    if (m_over)
        return;
    m_over = true;
    if (m_keyring)
        m_keyring->forget(m_id);
    deleteLater();
}

bool KeyringCall::waitForFinished(std::chrono::milliseconds limit)
{
    if (m_over)
        return false;
    return m_keyring && m_keyring->deliverWithin(m_id, limit);
}

void KeyringCall::deliver(const KeyringOutcome &outcome)
{
    if (m_over)
        return;
    m_over = true;
    emitFinished(outcome);
    deleteLater();
}

void KeyReadCall::emitFinished(const KeyringOutcome &outcome)
{
    Q_EMIT finished(outcome.key);
}

void KeySaveCall::emitFinished(const KeyringOutcome &outcome)
{
    Q_EMIT finished(outcome.ok);
}

void KeyRemoveCall::emitFinished(const KeyringOutcome &outcome)
{
    Q_EMIT finished(outcome.ok);
}
