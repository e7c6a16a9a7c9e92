#include "auth/SecretCallDeadline.h"

#include <gio/gio.h>

SecretCallDeadline::SecretCallDeadline(std::chrono::milliseconds limit)
    : m_cancellable(g_cancellable_new())
    , m_watcher([this, limit] { watch(limit); })
{
}

SecretCallDeadline::~SecretCallDeadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_one();
    m_watcher.join();
    g_object_unref(m_cancellable);
}

void SecretCallDeadline::watch(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    if (!m_wake.wait_for(lock, limit, [this] { return m_done; }))
        g_cancellable_cancel(m_cancellable);
}
