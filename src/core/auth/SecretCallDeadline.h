#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

typedef struct _GCancellable GCancellable;

// A GCancellable that cancels itself when the limit passes before the object
// is destroyed. libsecret's synchronous calls wait without end on a bus that
// accepts the connection but never answers; handing them this cancellable
// bounds the wait. The watcher is a plain thread because the calling thread
// is blocked inside the call. Cancelling `outer` (from any thread) ends the
// call early too.
class SecretCallDeadline
{
public:
    explicit SecretCallDeadline(std::chrono::milliseconds limit, GCancellable *outer = nullptr);
    ~SecretCallDeadline();

    SecretCallDeadline(const SecretCallDeadline &) = delete;
    SecretCallDeadline &operator=(const SecretCallDeadline &) = delete;

    GCancellable *cancellable() const { return m_cancellable; }

private:
    void watch(std::chrono::milliseconds limit);

    GCancellable *m_cancellable;
    GCancellable *m_outer;
    unsigned long m_outerHandler = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_watcher; // last: it uses the members above
};
