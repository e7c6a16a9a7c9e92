// The two ways of signing in: the browser with PKCE, and a pasted key that
// the service confirms. Either ends in complete(key).

#include "app/AppModel.h"
#include "auth/KeychainStore.h"

void AppModel::startOAuth()
{
    const Batch batch(*this);
    dropSignInTask();
    setSignInState(SignInState::makeWorking());
    setNotice(std::nullopt);
    auto *auth = new OpenRouterAuth(m_client, this);
    auth->setTimeoutMs(m_signInTimeoutMs);
    m_auth = auth;
    connect(auth, &OpenRouterAuth::finished, this,
        [this, auth](const SignInOutcome &outcome) { onBrowserSignInFinished(auth, outcome); });
    auth->signIn();
}

void AppModel::onBrowserSignInFinished(OpenRouterAuth *auth, const SignInOutcome &outcome)
{
    auth->deleteLater();
    if (m_auth != auth)
        return;
    m_auth = nullptr;
    if (outcome.ok())
        adoptOrFail(outcome.value(), false);
    else
        attemptFailed(outcome.error(), false);
}

void AppModel::useOwnKey(const QString &text)
{
    const QString key = text.trimmed();
    if (key.isEmpty())
        return;
    const Batch batch(*this);
    dropSignInTask();
    setSignInState(SignInState::makeWorking());
    setNotice(std::nullopt);
    KeyCheckCall *call = m_client.validateKey(key);
    m_keyCheck = call;
    connect(call, &KeyCheckCall::finished, this,
        [this, call, key](const KeyCheckOutcome &outcome) { onKeyChecked(call, key, outcome); });
}

void AppModel::onKeyChecked(KeyCheckCall *call, const QString &key, const KeyCheckOutcome &outcome)
{
    if (m_keyCheck != call)
        return;
    m_keyCheck = nullptr;
    if (outcome.ok())
        adoptOrFail(key, true);
    else
        attemptFailed(outcome.error(), true);
}

void AppModel::cancelSignIn()
{
    const Batch batch(*this);
    dropSignInTask();
    setSignInState(SignInState::makeIdle());
}

void AppModel::dropSignInTask()
{
    // The attempt is forgotten before it is cancelled: its cancelled outcome
    // must not touch a state that now belongs to the caller.
    if (OpenRouterAuth *auth = m_auth) {
        m_auth = nullptr;
        auth->disconnect(this);
        auth->cancel();
        auth->deleteLater();
    }
    if (KeyCheckCall *call = m_keyCheck) {
        m_keyCheck = nullptr;
        call->disconnect(this);
        call->cancel();
    }
}

void AppModel::adoptOrFail(const QString &key, bool pastedKey)
{
    if (const std::optional<ORError> refused = complete(key))
        attemptFailed(*refused, pastedKey);
}

std::optional<ORError> AppModel::complete(const QString &key)
{
    if (!KeychainStore::save(key))
        return ORError::other(keyringRefused);
    {
        const Batch batch(*this);
        m_key = key;
        setSignedIn(true);
        setSignInState(SignInState::makeIdle());
        setShowKeyField(false);
        setNotice(std::nullopt);
    }
    // Announced first, so the chat window is there when the ranker starts.
    refreshModels(true);
    return std::nullopt;
}

void AppModel::attemptFailed(const ORError &error, bool pastedKey)
{
    const Batch batch(*this);
    if (error.is(ORError::Kind::cancelled)) {
        setSignInState(SignInState::makeIdle());
        return;
    }
    const QString message
        = pastedKey && error.is(ORError::Kind::unauthorized) ? rejectedPastedKey : error.message();
    setSignInState(SignInState::makeFailed(AppIssue{ message, error.details() }));
}
