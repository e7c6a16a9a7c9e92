#include "core/auth/SecretCallGuard.h"

#include "core/auth/SecretLibrary.h"

SecretCallGuard::SecretCallGuard(std::chrono::milliseconds limit)
    : m_limit(limit)
    , m_library(SecretLibrary::get())
    , m_cancellable(m_library ? m_library->g_cancellable_new() : nullptr)
    , m_deadline(std::chrono::steady_clock::now() + limit)
    , m_watcher([this] { watch(); })
{
}

SecretCallGuard::~SecretCallGuard()
{
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_one();
    m_watcher.join();
    if (m_cancellable)
        m_library->g_object_unref(m_cancellable);
}

void SecretCallGuard::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_done && !m_cancelled) {
        if (m_prompting) {
            m_wake.wait(lock);
            continue;
        }
        if (m_wake.wait_until(lock, m_deadline) == std::cv_status::timeout && !m_prompting && !m_done
            && std::chrono::steady_clock::now() >= m_deadline)
            cancelLocked();
    }
}

void SecretCallGuard::cancelLocked()
{
    m_cancelled = true;
    // Cancelling runs the cancellable's handlers, which only queue work on
    // the calling thread's context: safe under the lock.
    if (m_cancellable)
        m_library->g_cancellable_cancel(m_cancellable);
}

void SecretCallGuard::cancelUnlessPrompting()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_prompting || m_cancelled || m_done)
            return;
        cancelLocked();
    }
    m_wake.notify_one();
}

bool SecretCallGuard::wasCancelled() const
{
    const std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool SecretCallGuard::promptOpening()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return false;
        m_prompting = true;
    }
    m_wake.notify_one();
    if (m_observer)
        m_observer(true);
    return true;
}

void SecretCallGuard::promptClosed()
{
    {
        const std::lock_guard lock(m_mutex);
        m_prompting = false;
        m_deadline = std::chrono::steady_clock::now() + m_limit;
    }
    m_wake.notify_one();
    if (m_observer)
        m_observer(false);
}
