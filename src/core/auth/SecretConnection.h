#pragma once

typedef struct _SecretService SecretService;
class SecretCallGuard;

// One thread's connection to the Secret Service: opened on first use, kept
// while it works (opening one takes several round trips and a key
// exchange), opened afresh after a call failed. It goes through a
// SecretService of our own type, which tells the guard of the running call
// when an unlock prompt opens and closes, and never lets a cancellable reach
// the prompt itself. Use from one thread only.
class SecretConnection
{
public:
    SecretConnection() = default;
    ~SecretConnection();

    SecretConnection(const SecretConnection &) = delete;
    SecretConnection &operator=(const SecretConnection &) = delete;

    // The service for a call that guard watches, until release(); null when
    // the Secret Service cannot be reached.
    SecretService *attach(SecretCallGuard &guard);
    // Ends the call's use of the service; a failed call drops the
    // connection, so that the next one starts clean.
    void release(bool callFailed);

private:
    SecretService *m_service = nullptr;
};
