#include "core/auth/KeyringQueue.h"

#include "core/auth/AuthLog.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/SecretCallGuard.h"
#include "core/auth/SecretConnection.h"

#include <pthread.h>
#include <thread>

std::shared_ptr<KeyringQueue> KeyringQueue::start(Notify notify)
{
    std::shared_ptr<KeyringQueue> queue(new KeyringQueue(std::move(notify)));
    // Joined by close() once it has ended, and otherwise left running: a call
    // waiting for an unlock prompt cannot be stopped, and joining it would
    // hold up quitting for as long as the prompt stays open. The process
    // ends it then.
    queue->m_thread = std::thread([queue] { queue->run(); });
    return queue;
}

KeyringQueue::~KeyringQueue()
{
    // The worker itself lets go last when it ended after close() gave up on
    // it; a thread cannot join itself.
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else if (m_thread.joinable())
        m_thread.join();
}

KeyringQueue::KeyringQueue(Notify notify)
    : m_notify(std::move(notify))
    , m_callLimit(KeychainStore::callLimit)
{
}

quint64 KeyringQueue::push(Kind kind, const QString &key)
{
    const std::lock_guard lock(m_mutex);
    const quint64 id = ++m_lastId;
    m_jobs.push_back(Job{ kind, id, key });
    m_wake.notify_one();
    return id;
}

void KeyringQueue::abandon(quint64 id)
{
    const std::lock_guard lock(m_mutex);
    if (const auto done = m_done.constFind(id); done != m_done.cend()) {
        const bool undo = done->kind == Kind::save && done->outcome.ok;
        m_done.erase(done);
        if (undo)
            undoSaveFirst();
        return;
    }
    if (m_running && m_running->id == id) {
        m_abandoned.insert(id);
        if (m_running->kind != Kind::remove && m_runningGuard)
            m_runningGuard->cancelUnlessPrompting();
        return;
    }
    for (auto job = m_jobs.begin(); job != m_jobs.end(); ++job) {
        if (job->id != id)
            continue;
        if (job->kind == Kind::remove)
            m_abandoned.insert(id);
        else
            m_jobs.erase(job);
        return;
    }
}

void KeyringQueue::setNotify(Notify notify)
{
    const std::lock_guard lock(m_mutex);
    m_notify = std::move(notify);
}

void KeyringQueue::connectAhead()
{
    const std::lock_guard lock(m_mutex);
    m_jobs.push_back(Job{ Kind::connect, 0, QString() });
    m_wake.notify_one();
}

void KeyringQueue::undoSaveFirst()
{
    m_jobs.push_front(Job{ Kind::remove, 0, QString() });
    m_wake.notify_one();
}

std::optional<KeyringOutcome> KeyringQueue::take(quint64 id)
{
    const std::lock_guard lock(m_mutex);
    const auto done = m_done.constFind(id);
    if (done == m_done.cend())
        return std::nullopt;
    KeyringOutcome outcome = done->outcome;
    m_done.erase(done);
    return outcome;
}

bool KeyringQueue::waitFor(quint64 id, std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_done.contains(id); });
}

void KeyringQueue::close(std::chrono::milliseconds drainLimit)
{
    std::unique_lock lock(m_mutex);
    m_notify = nullptr;
    m_closed = true;
    m_wake.notify_one();
    const bool drained = m_changed.wait_for(lock, drainLimit, [&] { return m_ended || m_prompting; });
    if (!drained || m_prompting) {
        qCWarning(lcAuth) << "quitting with a keyring call still waiting"
                          << (m_prompting ? "for an unlock prompt" : "for an answer");
        return;
    }
    lock.unlock();
    // Only the thread's own end is left; past it, nothing of the keyring's
    // runs while the process ends.
    if (m_thread.joinable())
        m_thread.join();
}

void KeyringQueue::setCallLimit(std::chrono::milliseconds limit)
{
    const std::lock_guard lock(m_mutex);
    m_callLimit = limit;
}

void KeyringQueue::setBeforeEachCall(std::function<void()> hook)
{
    const std::lock_guard lock(m_mutex);
    m_beforeEachCall = std::move(hook);
}

void KeyringQueue::promptShowing(bool showing)
{
    const std::lock_guard lock(m_mutex);
    m_prompting = showing;
    m_changed.notify_all();
}

void KeyringQueue::run()
{
    pthread_setname_np(pthread_self(), "tolvi.keyring");
    {
        SecretConnection connection;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return !m_jobs.empty() || m_closed; });
            if (m_jobs.empty())
                break; // closed, and nothing left to do
            const Job job = m_jobs.front();
            m_jobs.pop_front();
            m_running = job;
            runOne(lock, job, connection);
            m_running.reset();
            m_changed.notify_all();
        }
    }
    // Told once the connection is closed too: that unref may still run
    // libsecret's code, which must not overlap the process's end.
    const std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

namespace {

KeyringOutcome perform(
    KeyringQueue::Kind kind, const QString &key, SecretConnection &connection, SecretCallGuard &guard)
{
    switch (kind) {
    case KeyringQueue::Kind::read:
        return { KeychainStore::load(connection, guard), true };
    case KeyringQueue::Kind::save:
        return { std::nullopt, KeychainStore::save(key, connection, guard) };
    case KeyringQueue::Kind::remove:
        return { std::nullopt, KeychainStore::remove(connection, guard) };
    case KeyringQueue::Kind::connect:
        return { std::nullopt, KeychainStore::connect(connection, guard) };
    }
    return {};
}

} // namespace

// Entered and left with the lock held; the call itself runs without it.
void KeyringQueue::runOne(std::unique_lock<std::mutex> &lock, const Job &job, SecretConnection &connection)
{
    if (const std::function<void()> beforeCall = m_beforeEachCall) {
        lock.unlock();
        beforeCall();
        lock.lock();
    }
    KeyringOutcome outcome;
    bool cutShort = false;
    {
        SecretCallGuard guard(m_callLimit);
        guard.setPromptObserver([this](bool showing) { promptShowing(showing); });
        m_runningGuard = &guard;
        if (m_abandoned.contains(job.id) && job.kind != Kind::remove)
            guard.cancelUnlessPrompting();
        lock.unlock();
        outcome = perform(job.kind, job.key, connection, guard);
        cutShort = guard.wasCancelled();
        lock.lock();
        m_runningGuard = nullptr;
    }
    const bool abandoned = m_abandoned.remove(job.id);
    if (abandoned && job.kind == Kind::save && (outcome.ok || cutShort))
        undoSaveFirst();
    if (abandoned || job.id == 0)
        return;
    m_done.insert(job.id, Done{ job.kind, outcome });
    m_changed.notify_all();
    if (m_notify)
        m_notify(job.id);
}
