#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class SecretCallGuard;
class SecretConnection;

// What one keyring call did: the key that a read found, or whether a save
// stored the key or a removal left none.
struct KeyringOutcome {
    std::optional<QString> key;
    bool ok = false;
};

// The queue of the keyring's worker thread and the thread itself (see
// Keyring, its one user). The thread holds the queue for as long as it
// runs, so that a thread that outlives the Keyring (stuck in an unlock
// prompt) still finds it. Every member is safe to call from the main thread.
class KeyringQueue : public std::enable_shared_from_this<KeyringQueue>
{
public:
    // connect: opens the Secret Service session and nothing more, so that
    // the call after it does not wait for that; it reads no item, so no
    // unlock prompt can come of it, and it is never reported.
    enum class Kind { read, save, remove, connect };
    // Told, under the queue's lock, that the call with this id has an
    // outcome to collect with take().
    using Notify = std::function<void(quint64 id)>;

    // Starts the worker thread. Outcomes are told from setNotify() on.
    static std::shared_ptr<KeyringQueue> start(Notify notify = {});
    ~KeyringQueue();
    void setNotify(Notify notify);

    // Queues a connect (see Kind).
    void connectAhead();

    quint64 push(Kind kind, const QString &key = QString());
    // Nothing of the call will be collected. A queued read or save is
    // dropped; a running one is cut short unless its prompt is showing. A
    // save that stored the key, or was cut short, is undone by a removal
    // before the next call runs. A removal runs all the same.
    void abandon(quint64 id);
    // The call's outcome once it is in (once).
    std::optional<KeyringOutcome> take(quint64 id);
    // Blocks until the call's outcome is in, for at most limit.
    bool waitFor(quint64 id, std::chrono::milliseconds limit);
    // No more notifications. Waits, for at most drainLimit, until the calls
    // still queued have run and the thread has ended, and joins it; unless
    // one is waiting for an unlock prompt: that can take as long as the
    // person does, and the thread is left to it. Call it once.
    void close(std::chrono::milliseconds drainLimit);

    void setCallLimit(std::chrono::milliseconds limit);
    void setBeforeEachCall(std::function<void()> hook);

private:
    struct Job {
        Kind kind;
        quint64 id; // 0: a connect, or a removal that undoes an abandoned save; never reported
        QString key;
    };
    struct Done {
        Kind kind;
        KeyringOutcome outcome;
    };

    explicit KeyringQueue(Notify notify);
    void run();
    void runOne(std::unique_lock<std::mutex> &lock, const Job &job, SecretConnection &connection);
    void undoSaveFirst();
    void promptShowing(bool showing);

    std::mutex m_mutex;
    std::condition_variable m_wake; // the worker: a job or the close
    std::condition_variable m_changed; // the main thread: an outcome, idle, a prompt
    std::deque<Job> m_jobs;
    QHash<quint64, Done> m_done;
    QSet<quint64> m_abandoned; // abandoned while running, or queued removals
    quint64 m_lastId = 0;
    std::optional<Job> m_running;
    SecretCallGuard *m_runningGuard = nullptr;
    bool m_prompting = false;
    bool m_closed = false;
    bool m_ended = false; // the thread left run(), its connection closed
    Notify m_notify;
    std::chrono::milliseconds m_callLimit;
    std::function<void()> m_beforeEachCall;
    std::thread m_thread;
};
