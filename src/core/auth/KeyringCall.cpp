#include "core/auth/KeyringCall.h"

#include "core/auth/Keyring.h"
#include "core/auth/KeyringQueue.h"

KeyringCall::KeyringCall(Keyring &keyring, quint64 id)
    : Operation(&keyring)
    , m_keyring(&keyring)
    , m_id(id)
{
}

void KeyringCall::stopWork()
{
    if (m_keyring)
        m_keyring->forget(m_id);
}

bool KeyringCall::waitForFinished(std::chrono::milliseconds limit)
{
    if (!canDeliver())
        return false;
    return m_keyring && m_keyring->deliverWithin(m_id, limit);
}

void KeyringCall::deliverOutcome(const KeyringOutcome &outcome)
{
    deliver([this, &outcome] { emitFinished(outcome); });
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
