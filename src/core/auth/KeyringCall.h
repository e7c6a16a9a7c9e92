#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <optional>

class Keyring;
struct KeyringOutcome;

// A Secret Service call on the keyring's worker thread, as the main thread
// sees it. Each kind of call has one `finished` signal carrying a plain
// result, delivered from the event loop. abandon() makes the call silent:
// nothing more is delivered, whatever the worker still does with it (a call
// waiting for an unlock prompt cannot be stopped; Keyring says what an
// abandoned call leaves behind). A call deletes itself after it has finished
// or been abandoned; keep a QPointer to abandon it later.
class KeyringCall : public QObject
{
    Q_OBJECT
public:
    void abandon();

    // Blocks the calling thread until the outcome is in, for at most limit.
    // When it is, `finished` is emitted before this returns true.
    bool waitForFinished(std::chrono::milliseconds limit);

protected:
    KeyringCall(Keyring &keyring, quint64 id);
    virtual void emitFinished(const KeyringOutcome &outcome) = 0;

private:
    friend class Keyring;
    // Called by the keyring with the outcome; once.
    void deliver(const KeyringOutcome &outcome);

    QPointer<Keyring> m_keyring;
    quint64 m_id;
    bool m_over = false;
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

// Abandons the call that pointer holds, if any, and clears the pointer.
template <typename Call> void abandonCall(QPointer<Call> &pointer)
{
    if (Call *call = pointer.data())
        call->abandon();
    pointer = nullptr;
}
