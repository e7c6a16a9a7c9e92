#pragma once

// Holds the keyring's worker thread at the start of its calls, so that a
// test can act while a call is queued or running.
#include "core/auth/Keyring.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class KeyringGate
{
public:
    explicit KeyringGate(Keyring &keyring)
        : m_state(std::make_shared<State>())
    {
        // Shared with the hook: the worker may still be leaving it when the
        // gate goes.
        keyring.setBeforeEachCall([state = m_state] { state->pass(); });
    }
    ~KeyringGate() { open(); }

    KeyringGate(const KeyringGate &) = delete;
    KeyringGate &operator=(const KeyringGate &) = delete;

    // Calls that begin from now on wait at the gate.
    void close() { m_state->setClosed(true); }
    // Lets the waiting call, and every later one, through.
    void open() { m_state->setClosed(false); }
    // Whether a call waits at the gate.
    bool isHolding() const { return m_state->holding(); }
    // How many calls have begun.
    int calls() const { return m_state->calls(); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
        bool waiting = false;
        int passed = 0;

        void pass()
        {
            std::unique_lock lock(mutex);
            ++passed;
            waiting = true;
            changed.wait(lock, [this] { return !closed; });
            waiting = false;
        }
        void setClosed(bool close)
        {
            const std::lock_guard lock(mutex);
            closed = close;
            changed.notify_all();
        }
        bool holding()
        {
            const std::lock_guard lock(mutex);
            return waiting && closed;
        }
        int calls()
        {
            const std::lock_guard lock(mutex);
            return passed;
        }
    };

    std::shared_ptr<State> m_state;
};
