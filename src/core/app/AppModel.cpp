#include "app/AppModel.h"

#include "app/AppNotifications.h"
#include "auth/KeychainStore.h"

#include <QDesktopServices>
#include <QUrl>

AppModel::AppModel(AppNotifications &notifications, OpenRouterClient &client, QObject *parent)
    : AppModel(notifications, KeychainStore::load(), client, parent)
{
}

AppModel::AppModel(
    AppNotifications &notifications, std::optional<QString> storedKey, OpenRouterClient &client, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_key(std::move(storedKey))
{
    m_ranker = std::make_unique<ModelRanker>(m_client);
    m_store = std::make_unique<ChatStore>();
    m_isSignedIn = m_key.has_value();
    m_chat = std::make_unique<ChatViewModel>(*m_store, *m_ranker, m_client);
    connectController();
    subscribe(notifications);
    if (m_key)
        refreshModels(false);
}

AppModel::~AppModel()
{
    // Nothing may reach back into a model that is being taken apart.
    m_chat->keyProvider = {};
    m_chat->onUnauthorized = {};
    if (m_keyCheck)
        m_keyCheck->cancel();
    delete m_auth.data();
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
    const Batch batch(*this);
    if (m_showKeyField != show) {
        m_showKeyField = show;
        touch(showKeyFieldField);
    }
}

void AppModel::setShowSettings(bool show)
{
    const Batch batch(*this);
    if (m_showSettings != show) {
        m_showSettings = show;
        touch(showSettingsField);
    }
}

void AppModel::setSignedIn(bool signedIn)
{
    if (m_isSignedIn != signedIn) {
        m_isSignedIn = signedIn;
        touch(signedInField);
    }
}

void AppModel::setSignInState(const SignInState &state)
{
    if (m_signInState != state) {
        m_signInState = state;
        touch(signInStateField);
    }
}

void AppModel::setNotice(const std::optional<QString> &notice)
{
    if (m_notice != notice) {
        m_notice = notice;
        touch(noticeField);
    }
}

void AppModel::publish()
{
    const unsigned dirty = std::exchange(m_dirty, 0u);
    if (dirty & signedInField)
        Q_EMIT isSignedInChanged();
    if (dirty & signInStateField)
        Q_EMIT signInStateChanged();
    if (dirty & showKeyFieldField)
        Q_EMIT showKeyFieldChanged();
    if (dirty & noticeField)
        Q_EMIT noticeChanged();
    if (dirty & showSettingsField)
        Q_EMIT showSettingsChanged();
}

// ---- signing out, models, revocation -------------------------------------------

void AppModel::signOut()
{
    const Batch batch(*this);
    KeychainStore::remove();
    m_key.reset();
    setSignedIn(false);
    setSignInState(SignInState::makeIdle());
    setShowKeyField(false);
    m_chat->reset();
    m_ranker->reset();
}

void AppModel::refreshModels(bool force)
{
    if (!m_key)
        return;
    const QString key = *m_key;
    const QPointer<AppModel> self(this);
    m_ranker->refresh(key, force, [self, key](const std::optional<ORError> &error) {
        if (self && error && error->is(ORError::Kind::unauthorized))
            self->onRefreshRejected(key);
    });
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
    const Batch batch(*this);
    signOut();
    setNotice(revokedNotice);
}

void AppModel::openKeysPage()
{
    const QUrl url(m_client.webOrigin() + QStringLiteral("/keys"), QUrl::StrictMode);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
