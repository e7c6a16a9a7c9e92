#pragma once

#include "core/util/Operation.h"

#include <QPointer>
#include <chrono>
#include <optional>

class Keyring;
struct KeyringOutcome;

// A Secret Service call on the keyring's worker thread, as the main thread
// sees it: an Operation whose `finished` comes from the event loop. A call
// waiting for an unlock prompt cannot be stopped, so cancel() only silences
// it (Keyring says what a cancelled call leaves behind).
class KeyringCall : public Operation
{
    Q_OBJECT
public:
    // Blocks the calling thread until the outcome is in, for at most limit.
    // When it is, `finished` is emitted before this returns true.
    bool waitForFinished(std::chrono::milliseconds limit);

protected:
    KeyringCall(Keyring &keyring, quint64 id);
    virtual void emitFinished(const KeyringOutcome &outcome) = 0;
    void stopWork() override;

private:
    friend class Keyring;
    // Called by the keyring with the outcome; once.
    void deliverOutcome(const KeyringOutcome &outcome);

    QPointer<Keyring> m_keyring;
    quint64 m_id;
};

class KeyReadCall : public KeyringCall
{
    Q_OBJECT
public:
    using KeyringCall::KeyringCall;
Q_SIGNALS:
    // The stored key; nothing when none could be read.
    void finished(const std::optional<QString> &key);

protected:
    void emitFinished(const KeyringOutcome &outcome) override;
};

class KeySaveCall : public KeyringCall
{
    Q_OBJECT
public:
    using KeyringCall::KeyringCall;
Q_SIGNALS:
    void finished(bool stored);

protected:
    void emitFinished(const KeyringOutcome &outcome) override;
};

class KeyRemoveCall : public KeyringCall
{
    Q_OBJECT
public:
    using KeyringCall::KeyringCall;
Q_SIGNALS:
    // False when the key may still be stored (its keyring stayed locked, or
    // the Secret Service failed).
    void finished(bool removed);

protected:
    void emitFinished(const KeyringOutcome &outcome) override;
};
