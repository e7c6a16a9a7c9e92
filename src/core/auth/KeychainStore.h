#pragma once

#include <QString>
#include <optional>

typedef struct _GCancellable GCancellable;

// The API key in the desktop's Secret Service: one item with the attributes
// service = "com.tolvi.mac.openrouter" and account = "api-key" in the default
// collection. The calls are synchronous and block the calling thread; each one
// gives up after a few seconds, so that a bus that never answers cannot hang
// the application. Failures are reported only as an absent key or false.
namespace KeychainStore {

// The stored key, byte for byte; nothing when there is no item, it is locked
// or refused, empty, not UTF-8, or the Secret Service does not answer.
// Cancelling `cancellable` from another thread ends the read with nothing
// and dismisses an unlock prompt it opened.
std::optional<QString> load(GCancellable *cancellable = nullptr);

// Replaces any stored key with key. True exactly when the new item was stored.
// A failed store leaves no item at all.
bool save(const QString &key);

// Removes the item if there is one.
void remove();

} // namespace KeychainStore
