#include "core/app/AppModel.h"

#include "core/app/AppNotifications.h"
#include "core/auth/AuthLog.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

AppModel::AppModel(AppNotifications &notifications, Keyring &keyring, KeyReadCall *storedKeyRead,
    OpenRouterClient &client, QObject *parent)
    : AppModel(notifications, nullptr, &keyring, storedKeyRead, storedKeyWait, client, parent)
{
}

AppModel::AppModel(AppNotifications &notifications, OpenRouterClient &client, QObject *parent)
    : AppModel(notifications, std::make_unique<Keyring>(), nullptr, nullptr, 2 * KeychainStore::callLimit,
        client, parent)
{
}

AppModel::AppModel(AppNotifications &notifications, std::unique_ptr<Keyring> ownKeyring, Keyring *keyring,
    KeyReadCall *storedKeyRead, std::chrono::milliseconds wait, OpenRouterClient &client, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_ownKeyring(std::move(ownKeyring))
    , m_keyring(keyring ? *keyring : *m_ownKeyring)
{
    m_ranker = std::make_unique<ModelRanker>(m_client);
    m_store = std::make_unique<ChatStore>();
    m_chat = std::make_unique<ChatViewModel>(*m_store, *m_ranker, m_client);
    m_quota = std::make_unique<FreeQuota>(
        QFileInfo(m_ranker->cachePath()).absolutePath() + QStringLiteral("/quota.json"));
    connectController();
    connectQuota();
    subscribe(notifications);
    awaitStoredKey(storedKeyRead ? storedKeyRead : m_keyring.read(), wait);
}

AppModel::~AppModel()
{
    // Nothing may reach back into a model that is being taken apart.
    m_chat->keyProvider = {};
    m_chat->onUnauthorized = {};
    dropSignInTask();
    cancelOperation(m_keyRemoval);
}

void AppModel::awaitStoredKey(KeyReadCall *read, std::chrono::milliseconds wait)
{
    m_storedKeyRead = read;
    connect(read, &KeyReadCall::finished, this, &AppModel::onStoredKeyRead);
    if (read->waitForFinished(wait))
        return;
    qCInfo(lcAuth) << "the stored key is not read within" << wait.count() << "ms; waiting for the keyring";
    setSignInState(SignInState::makeWorking(SignInState::Wait::keyring));
}

void AppModel::onStoredKeyRead(const std::optional<QString> &key)
{
    m_storedKeyRead = nullptr;
    {
        const auto batch = m_changes.batch();
        m_key = key;
        setSignedIn(key.has_value());
        setSignInState(SignInState::makeIdle());
    }
    if (m_key)
        refreshModels(false);
}

void AppModel::connectController()
{
    const QPointer<AppModel> self(this);
    m_chat->keyProvider = [self]() -> std::optional<QString> {
        if (!self)
            return std::nullopt;
        self->m_keyHandedToChat = self->m_key;
        return self->m_key;
    };
    // Only the generation that read the key last can still report: starting
    // a generation ends the one before, and a stale one reports nothing.
    m_chat->onUnauthorized = [self] {
        if (self && self->m_keyHandedToChat && self->isKeyInUse(*self->m_keyHandedToChat))
            self->revoke();
    };
}

void AppModel::connectQuota()
{
    m_quota->listenTo(m_client);
    // Other apps and the website spend the same requests, so what the
    // service counts can have moved by the end of any reply.
    connect(m_chat.get(), &ChatViewModel::isStreamingChanged, this, [this] {
        if (!m_chat->isStreaming())
            checkQuota();
    });
    connect(&m_client, &OpenRouterClient::rateLimitAnswered, this, &AppModel::checkQuota);
}

void AppModel::checkQuota()
{
    if (m_key)
        m_quota->checkKey(m_client, *m_key);
}

void AppModel::subscribe(AppNotifications &notifications)
{
    connect(
        &notifications, &AppNotifications::tolviNewChat, this, [this] { m_chat->newChat(); },
        Qt::QueuedConnection);
    connect(
        &notifications, &AppNotifications::tolviFocusInput, this, [this] { m_chat->requestFocus(); },
        Qt::QueuedConnection);
}

// ---- published state ---------------------------------------------------------

void AppModel::setShowKeyField(bool show)
{
    const auto batch = m_changes.batch();
    if (m_showKeyField != show) {
        m_showKeyField = show;
        m_changes.mark(showKeyFieldField);
    }
}

void AppModel::setShowSettings(bool show)
{
    const auto batch = m_changes.batch();
    if (m_showSettings != show) {
        m_showSettings = show;
        m_changes.mark(showSettingsField);
    }
}

void AppModel::setSignedIn(bool signedIn)
{
    if (m_isSignedIn != signedIn) {
        m_isSignedIn = signedIn;
        m_changes.mark(signedInField);
    }
}

void AppModel::setSignInState(const SignInState &state)
{
    if (m_signInState != state) {
        m_signInState = state;
        m_changes.mark(signInStateField);
    }
}

void AppModel::setNotice(const std::optional<QString> &notice)
{
    if (m_notice != notice) {
        m_notice = notice;
        m_changes.mark(noticeField);
    }
}

// ---- signing out, models, revocation -------------------------------------------

void AppModel::signOut()
{
    const auto batch = m_changes.batch();
    // Only the last sign-out's removal reports.
    cancelOperation(m_keyRemoval);
    m_keyRemoval = m_keyring.remove();
    connect(m_keyRemoval, &KeyRemoveCall::finished, this, &AppModel::onKeyRemoved);
    m_key.reset();
    setSignedIn(false);
    setSignInState(SignInState::makeIdle());
    setShowKeyField(false);
    m_chat->reset();
    m_ranker->reset();
    m_quota->forget();
}

void AppModel::onKeyRemoved(bool removed)
{
    m_keyRemoval = nullptr;
    if (removed)
        return;
    // Said beside the reason for the sign-out, if there is one.
    const auto batch = m_changes.batch();
    setNotice(m_notice ? *m_notice + QLatin1Char(' ') + keyringKeptKey : keyringKeptKey);
}

void AppModel::refreshModels(bool force)
{
    if (!m_key)
        return;
    const QString key = *m_key;
    connect(m_ranker->refresh(key, force), &RefreshRequest::finished, this,
        [this, key](const std::optional<ORError> &rejection) {
            if (rejection && rejection->is(ORError::Kind::unauthorized))
                onRefreshRejected(key);
        });
    // Also when the cached ladder serves: the day's numbers are not cached.
    checkQuota();
}

void AppModel::onRefreshRejected(const QString &key)
{
    if (isKeyInUse(key)) {
        revoke();
        return;
    }
    // A refresh that began with an earlier key kept the ranker busy, so the
    // refresh asked for when the current key was adopted never ran.
    refreshModels(true);
}

void AppModel::revoke()
{
    const auto batch = m_changes.batch();
    signOut();
    setNotice(revokedNotice);
}

void AppModel::openKeysPage()
{
    const QUrl url(m_client.webOrigin() + QStringLiteral("/keys"), QUrl::StrictMode);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

ChatSearchIndex &AppModel::search()
{
    if (!m_search)
        m_search = ChatSearchIndex::following(*m_store);
    return *m_search;
}
