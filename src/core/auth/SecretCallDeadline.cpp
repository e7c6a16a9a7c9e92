#include "auth/SecretCallDeadline.h"

#include <gio/gio.h>

namespace {

void cancelInner(GCancellable *, gpointer inner)
{
    g_cancellable_cancel(G_CANCELLABLE(inner));
}

} // namespace

SecretCallDeadline::SecretCallDeadline(std::chrono::milliseconds limit, GCancellable *outer)
    : m_cancellable(g_cancellable_new())
    , m_outer(outer ? G_CANCELLABLE(g_object_ref(outer)) : nullptr)
    , m_watcher([this, limit] { watch(limit); })
{
    if (m_outer)
        m_outerHandler = g_cancellable_connect(m_outer, G_CALLBACK(cancelInner), m_cancellable, nullptr);
}

SecretCallDeadline::~SecretCallDeadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_one();
    m_watcher.join();
    if (m_outer) {
        g_cancellable_disconnect(m_outer, m_outerHandler);
        g_object_unref(m_outer);
    }
    g_object_unref(m_cancellable);
}

void SecretCallDeadline::watch(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    if (!m_wake.wait_for(lock, limit, [this] { return m_done; }))
        g_cancellable_cancel(m_cancellable);
}
