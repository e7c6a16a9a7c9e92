#pragma once

#include "core/auth/KeyringCall.h"
#include "core/auth/OpenRouterAuth.h"
#include "core/conversation/ChatViewModel.h"
#include "core/quota/FreeQuota.h"
#include "core/ranker/ModelRanker.h"
#include "core/search/ChatSearchIndex.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"
#include "core/util/ChangeSignals.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <memory>
#include <optional>

class AppNotifications;
class KeyCheckCall;
class Keyring;

// The application's root state: whether the user is signed in, the progress
// of a sign-in, and the long-lived objects (ranker, store, conversation
// controller). Holds the API key in memory; the key itself lives in the
// Secret Service, reached through the Keyring, whose answers come later.
// Main thread only.
class AppModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY isSignedInChanged)
    Q_PROPERTY(SignInState signInState READ signInState NOTIFY signInStateChanged)
    Q_PROPERTY(bool showKeyField READ showKeyField WRITE setShowKeyField NOTIFY showKeyFieldChanged)
    Q_PROPERTY(std::optional<QString> notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool showSettings READ showSettings WRITE setShowSettings NOTIFY showSettingsChanged)

public:
    struct SignInState {
        enum Phase { idle, working, failed };
        // What a working state waits for: the browser sign-in or the check
        // of a pasted key, or the system keyring, which may be waiting for
        // the person at its unlock prompt.
        enum class Wait { signIn, keyring };
        Phase phase = idle;
        std::optional<AppIssue> issue; // only when failed
        Wait wait = Wait::signIn; // only when working

        static SignInState makeIdle() { return { idle, std::nullopt }; }
        static SignInState makeWorking(Wait wait = Wait::signIn) { return { working, std::nullopt, wait }; }
        static SignInState makeFailed(const AppIssue &issue) { return { failed, issue }; }
        bool operator==(const SignInState &) const = default;
    };

    static inline const QString revokedNotice
        = QStringLiteral("Your OpenRouter key was revoked or is no longer valid. Please sign in again.");
    static inline const QString rejectedPastedKey
        = QStringLiteral("OpenRouter says that key isn't valid. Check it and try again.");
    static inline const QString keyringRefused
        = QStringLiteral("Couldn't save your key to the system keyring.");
    static inline const QString keyringKeptKey
        = QStringLiteral("Couldn't remove your key from the system keyring.");

    // How long the start-up sequence waits for the stored key: the usual
    // read (some 20 ms) is in by then, so the first frame shows the right
    // view; a read waiting for an unlock prompt is not, and the window
    // shows the sign-in screen's working face until it answers.
    static constexpr std::chrono::milliseconds storedKeyWait{ 250 };

    // The start-up sequence: builds the ranker, the store and the
    // controller, subscribes to the notifications, and takes the stored
    // key from storedKeyRead (begun by the caller on keyring, with no event
    // loop run since, which could have delivered it), waiting for it at most
    // storedKeyWait; with a key, refreshes the models (the cache may serve).
    // Saves and removals go through keyring, which must outlive the model.
    AppModel(AppNotifications &notifications, Keyring &keyring, KeyReadCall *storedKeyRead,
        OpenRouterClient &client = OpenRouterClient::shared(), QObject *parent = nullptr);
    // For tests and tools: the same with a keyring of its own, and the
    // stored key read before the constructor returns.
    explicit AppModel(AppNotifications &notifications, OpenRouterClient &client = OpenRouterClient::shared(),
        QObject *parent = nullptr);
    ~AppModel() override;

    bool isSignedIn() const { return m_isSignedIn; }
    const SignInState &signInState() const { return m_signInState; }
    bool showKeyField() const { return m_showKeyField; }
    void setShowKeyField(bool show);
    const std::optional<QString> &notice() const { return m_notice; }
    bool showSettings() const { return m_showSettings; }
    void setShowSettings(bool show);

    ModelRanker &ranker() { return *m_ranker; }
    ChatStore &store() { return *m_store; }
    ChatViewModel &chat() { return *m_chat; }
    FreeQuota &quota() { return *m_quota; }
    // Search over every chat. Its index is made at the first call and
    // reads the chats on a thread of its own, so that start-up never pays
    // for it; from then on it follows the store.
    ChatSearchIndex &search();

    void startOAuth();
    void cancelSignIn();
    void useOwnKey(const QString &text);
    void signOut();
    void refreshModels(bool force);
    void openKeysPage();

    // Test seam: shortens the browser sign-in's 3-minute limit.
    void setSignInTimeoutMs(int ms) { m_signInTimeoutMs = ms; }

Q_SIGNALS:
    void isSignedInChanged();
    void signInStateChanged();
    void showKeyFieldChanged();
    void noticeChanged();
    void showSettingsChanged();

private:
    // The published fields, numbered by their signal's place in m_changes.
    enum Field : int { signedInField, signInStateField, showKeyFieldField, noticeField, showSettingsField };

    AppModel(AppNotifications &notifications, std::unique_ptr<Keyring> ownKeyring, Keyring *keyring,
        KeyReadCall *storedKeyRead, std::chrono::milliseconds wait, OpenRouterClient &client,
        QObject *parent);

    // Start-up steps.
    void connectController();
    // The day's free requests: counted as the client sends them, and the
    // service's numbers read again after every reply and every 429.
    void connectQuota();
    // Reads /key for the day's numbers, when signed in.
    void checkQuota();
    void subscribe(AppNotifications &notifications);
    void awaitStoredKey(KeyReadCall *read, std::chrono::milliseconds wait);
    void onStoredKeyRead(const std::optional<QString> &key);

    // Sign-in steps (AppModelSignIn.cpp).
    void onBrowserSignInFinished(const SignInOutcome &outcome);
    void onKeyChecked(KeyCheckCall *call, const QString &key, const KeyCheckOutcome &outcome);
    // A new key in two steps: the keyring stores it, then the model adopts
    // it; a key the keyring refused is not adopted.
    void storeKey(const QString &key, bool pastedKey);
    void onKeySaved(const QString &key, bool pastedKey, bool stored);
    void adopt(const QString &key);
    void attemptFailed(const ORError &error, bool pastedKey);
    // Forgets the running sign-in, key check, key save or start-up read,
    // cancelling it.
    void dropSignInTask();
    void onKeyRemoved(bool removed);

    // Revocation: only a rejection of the key still in use signs out.
    bool isKeyInUse(const QString &key) const { return m_key && *m_key == key; }
    void onRefreshRejected(const QString &key);
    void revoke();

    void setSignedIn(bool signedIn);
    void setSignInState(const SignInState &state);
    void setNotice(const std::optional<QString> &notice);

    OpenRouterClient &m_client;
    std::unique_ptr<Keyring> m_ownKeyring; // only when none was given
    Keyring &m_keyring;
    std::unique_ptr<ModelRanker> m_ranker;
    std::unique_ptr<ChatStore> m_store;
    std::unique_ptr<ChatViewModel> m_chat;
    std::unique_ptr<FreeQuota> m_quota;
    std::unique_ptr<ChatSearchIndex> m_search;
    std::optional<QString> m_key;
    // The key the controller last read for a generation: the one its
    // onUnauthorized refers to (a stale generation never reports).
    std::optional<QString> m_keyHandedToChat;
    // What the check of a pasted key learnt about the account, until the
    // key is adopted.
    std::optional<KeyInfo> m_checkedKeyInfo;

    bool m_isSignedIn = false;
    SignInState m_signInState;
    bool m_showKeyField = false;
    std::optional<QString> m_notice;
    bool m_showSettings = false;
    int m_signInTimeoutMs = 180000;

    // The running sign-in task: the start-up read of the stored key, a
    // browser attempt or a key check, and then the save of the key; one at
    // a time.
    QPointer<KeyReadCall> m_storedKeyRead;
    QPointer<OpenRouterAuth> m_auth;
    QPointer<KeyCheckCall> m_keyCheck;
    QPointer<KeySaveCall> m_keySave;
    // The removal of the last sign-out, until it has answered.
    QPointer<KeyRemoveCall> m_keyRemoval;

    ChangeSignals<AppModel> m_changes{ *this,
        { &AppModel::isSignedInChanged, &AppModel::signInStateChanged, &AppModel::showKeyFieldChanged,
            &AppModel::noticeChanged, &AppModel::showSettingsChanged } };
};
