#pragma once

#include <QString>
#include <optional>
#include <thread>

typedef struct _GCancellable GCancellable;

// Reads the stored API key from the Secret Service on a thread of its own,
// from the very start of the process, so that start-up goes on meanwhile:
// opening a session with the keyring takes several round trips and a key
// exchange. A process that turns out not to be needed (another Tolvi runs)
// cancels the read, which also dismisses an unlock prompt it may have opened.
class StoredKeyRead
{
public:
    StoredKeyRead();
    // Waits for the read (cancel() first to end it quickly).
    ~StoredKeyRead();

    StoredKeyRead(const StoredKeyRead &) = delete;
    StoredKeyRead &operator=(const StoredKeyRead &) = delete;

    // Waits for the read and hands over the key (once; later calls and
    // calls after cancel() give nothing).
    std::optional<QString> take();
    void cancel();

private:
    GCancellable *m_cancellable;
    std::optional<QString> m_key;
    std::thread m_reader; // last: it uses the members above
};
