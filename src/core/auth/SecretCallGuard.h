#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

typedef struct _GCancellable GCancellable;
struct SecretLibrary;

// What may end one Secret Service call early, and when it must not.
//
// libsecret's calls wait without end on a bus that accepts the connection
// but never answers, so the call's cancellable is cancelled once `limit`
// passes. An unlock prompt is different: the call then waits for the
// person, for as long as they take, and a call cancelled while its prompt
// is up never returns (libsecret 0.20). So the limit is paused while a
// prompt is showing and starts afresh when it closes, and nothing cancels
// the call meanwhile. The watcher is a plain thread because the calling
// thread is blocked inside the call.
class SecretCallGuard
{
public:
    explicit SecretCallGuard(std::chrono::milliseconds limit);
    ~SecretCallGuard();

    SecretCallGuard(const SecretCallGuard &) = delete;
    SecretCallGuard &operator=(const SecretCallGuard &) = delete;

    // Null when the Secret Service library could not be loaded: then no
    // call can be made anyway.
    GCancellable *cancellable() const { return m_cancellable; }

    // From any thread: ends the call now, unless its prompt is showing.
    void cancelUnlessPrompting();
    // Whether the call was cut short (by the limit or by cancelUnlessPrompting).
    bool wasCancelled() const;

    // Told by the connection when libsecret is about to show a prompt.
    // False when the call was cut short already: the prompt must not open.
    bool promptOpening();
    void promptClosed();

    // Runs on the calling thread whenever a prompt opens or closes (true
    // while one is showing), outside the guard's lock.
    void setPromptObserver(std::function<void(bool showing)> observer) { m_observer = std::move(observer); }

private:
    void watch();
    void cancelLocked();

    const std::chrono::milliseconds m_limit;
    // Loaded here first, on the thread that makes the keyring's calls.
    const SecretLibrary *m_library;
    GCancellable *m_cancellable;
    std::function<void(bool)> m_observer;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_prompting = false;
    bool m_cancelled = false;
    bool m_done = false;
    std::thread m_watcher; // last: it uses the members above
};
