#pragma once

#include "core/auth/KeyringCall.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

class KeyringQueue;

// Every Secret Service call of the application goes through here. They run
// one at a time, in the order asked, on one worker thread of their own
// ("tolvi.keyring"), never on the main thread: a call on a locked keyring
// shows the desktop's unlock prompt and waits for the person, and the window
// must not wait with it. Each call answers through its handle, on the main
// thread.
//
// A call inside an unlock prompt cannot be stopped, so cancelling its handle
// only silences it; a call that waits for a silent bus is cut short. What a
// cancelled call leaves behind: a save that stored the key (or was cut
// short) is followed at once by a removal, before the next call runs, so
// that a key the person gave up on does not stay stored; a removal still
// runs; a read or save that has not begun is dropped.
class Keyring : public QObject
{
    Q_OBJECT
public:
    explicit Keyring(QObject *parent = nullptr);
    // Takes over a worker thread begun with connectAhead().
    explicit Keyring(std::shared_ptr<KeyringQueue> queue, QObject *parent = nullptr);
    // Waits for the calls still queued and the worker thread's end, a few
    // seconds at most, unless a call waits for an unlock prompt: then the
    // thread is left running and the process ends it.
    ~Keyring() override;

    // Starts the worker thread and has it load the Secret Service library
    // and open a session, which reads no item and so cannot prompt: made
    // before the application object, that is done by the time start-up asks
    // for the key. Only where the session bus is running already: starting
    // one takes the display. Hand the result to the constructor.
    static std::shared_ptr<KeyringQueue> connectAhead();

    KeyReadCall *read();
    KeySaveCall *save(const QString &key);
    KeyRemoveCall *remove();

    // Test seams: how long a later call may take while no prompt shows (the
    // default is KeychainStore::callLimit), and a hook that runs on the
    // worker thread as each call begins.
    void setCallLimit(std::chrono::milliseconds limit);
    void setBeforeEachCall(std::function<void()> hook);

private:
    friend class KeyringCall;

    template <typename Call> Call *track(quint64 id);
    void deliver(quint64 id);
    bool deliverWithin(quint64 id, std::chrono::milliseconds limit);
    void forget(quint64 id);

    std::shared_ptr<KeyringQueue> m_queue;
    QHash<quint64, QPointer<KeyringCall>> m_calls;
};
