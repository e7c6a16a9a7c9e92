#pragma once

#include <QString>
#include <chrono>
#include <optional>

class SecretCallGuard;
class SecretConnection;

// The keychain, on Linux: the desktop's Secret Service (GNOME Keyring,
// KWallet), reached through libsecret. The API key is one item with the attributes
// service = "com.tolvi.mac.openrouter" and account = "api-key" in the default
// collection. The calls are synchronous: the application makes them only on
// the keyring's worker thread (see Keyring). A locked keyring is unlocked on
// the way, which may show the desktop's unlock prompt and wait for the
// person. Failures are reported only as an absent key or false.
namespace KeychainStore {

// How long a call may take while no unlock prompt is showing.
inline constexpr std::chrono::milliseconds callLimit{ 5000 };

// The stored key, byte for byte; nothing when there is no item, it stays
// locked, is empty or not UTF-8, or the Secret Service does not answer.
std::optional<QString> load(SecretConnection &connection, SecretCallGuard &guard);

// Replaces any stored key with key. True exactly when the new item was
// stored. A failed store leaves no item at all, except when the earlier one
// could not be removed (its keyring stayed locked): then that one stays.
bool save(const QString &key, SecretConnection &connection, SecretCallGuard &guard);

// Removes the item if there is one. True when none is left.
bool remove(SecretConnection &connection, SecretCallGuard &guard);

// Opens the connection, or keeps the one open, and reads nothing. True when
// the Secret Service answered.
bool connect(SecretConnection &connection, SecretCallGuard &guard);

// The same, each over a connection of its own with the usual limit.
std::optional<QString> load();
bool save(const QString &key);
bool remove();

} // namespace KeychainStore
