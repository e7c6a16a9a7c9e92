// The two ways of signing in: the browser with PKCE, and a pasted key that
// the service confirms. Either ends in storing the key, then adopting it.

#include "core/app/AppModel.h"
#include "core/auth/Keyring.h"

void AppModel::startOAuth()
{
    const auto batch = m_changes.batch();
    dropSignInTask();
    setSignInState(SignInState::makeWorking());
    setNotice(std::nullopt);
    auto *auth = new OpenRouterAuth(m_client, this);
    auth->setTimeoutMs(m_signInTimeoutMs);
    m_auth = auth;
    connect(auth, &OpenRouterAuth::finished, this, &AppModel::onBrowserSignInFinished);
    auth->signIn();
}

void AppModel::onBrowserSignInFinished(const SignInOutcome &outcome)
{
    m_auth = nullptr;
    if (outcome.ok())
        storeKey(outcome.value(), false);
    else
        attemptFailed(outcome.error(), false);
}

void AppModel::useOwnKey(const QString &text)
{
    const QString key = text.trimmed();
    if (key.isEmpty())
        return;
    const auto batch = m_changes.batch();
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
    if (!outcome.ok()) {
        attemptFailed(outcome.error(), true);
        return;
    }
    m_checkedKeyInfo = outcome.value();
    storeKey(key, true);
}

void AppModel::cancelSignIn()
{
    const auto batch = m_changes.batch();
    dropSignInTask();
    setSignInState(SignInState::makeIdle());
}

void AppModel::dropSignInTask()
{
    cancelOperation(m_auth);
    cancelOperation(m_keyCheck);
    // Silenced, not stopped: the keyring may be waiting for the person at
    // its unlock prompt. A save that lands all the same is removed again.
    cancelOperation(m_storedKeyRead);
    cancelOperation(m_keySave);
    m_checkedKeyInfo.reset();
}

void AppModel::storeKey(const QString &key, bool pastedKey)
{
    const auto batch = m_changes.batch();
    setSignInState(SignInState::makeWorking(SignInState::Wait::keyring));
    m_keySave = m_keyring.save(key);
    connect(m_keySave, &KeySaveCall::finished, this,
        [this, key, pastedKey](bool stored) { onKeySaved(key, pastedKey, stored); });
}

void AppModel::onKeySaved(const QString &key, bool pastedKey, bool stored)
{
    m_keySave = nullptr;
    if (stored)
        adopt(key);
    else
        attemptFailed(ORError::other(keyringRefused), pastedKey);
}

void AppModel::adopt(const QString &key)
{
    {
        const auto batch = m_changes.batch();
        m_key = key;
        setSignedIn(true);
        setSignInState(SignInState::makeIdle());
        setShowKeyField(false);
        setNotice(std::nullopt);
    }
    if (const std::optional<KeyInfo> known = std::exchange(m_checkedKeyInfo, std::nullopt))
        m_quota->noteKeyInfo(*known);
    // Announced first, so the chat window is there when the ranker starts.
    // The refresh reads /key again: the keyring may have kept the person at
    // its prompt for a while since the check.
    refreshModels(true);
}

void AppModel::attemptFailed(const ORError &error, bool pastedKey)
{
    const auto batch = m_changes.batch();
    if (error.is(ORError::Kind::cancelled)) {
        setSignInState(SignInState::makeIdle());
        return;
    }
    const QString message
        = pastedKey && error.is(ORError::Kind::unauthorized) ? rejectedPastedKey : error.message();
    setSignInState(SignInState::makeFailed(AppIssue{ message, error.details() }));
}
