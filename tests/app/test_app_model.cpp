// The application model against real parts: the Secret Service of a private
// D-Bus session (see tests/auth/with-keyring), the fake service over real
// sockets, and the real ranker, store and controller.
#include "../auth/KeyringGate.h"
#include "AppTestKit.h"
#include "FakeFixtures.h"
#include "FakeService.h"
#include "TestSupport.h"
#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"
#include "core/ranker/RankerCache.h"
#include "core/util/AppPaths.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcessEnvironment>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

Q_DECLARE_METATYPE(fake::Reply)

using apptest::FakeBrowser;
using SignInState = AppModel::SignInState;

namespace {

const QString keyA = QStringLiteral("sk-or-v1-aaaa1111");
const QString keyB = QStringLiteral("sk-or-v1-bbbb2222");

QSettings tolviSettings()
{
    return QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi"));
}

bool isModelsCall(const fake::Request &request)
{
    return request.method == "GET" && request.pathOnly() == "/api/v1/models";
}

// A /key answer of 50 free requests a day with remaining left, held until
// the test releases it.
fake::Reply heldKeyAnswer(int remaining)
{
    const QJsonObject daily{ { "limit", 50 }, { "remaining", remaining }, { "used", 50 - remaining } };
    fake::Reply reply = fake::Reply::json(200,
        QJsonObject{
            { "data", QJsonObject{ { "is_free_tier", true }, { "free_model_daily_requests", daily } } } });
    reply.holdHead = true;
    return reply;
}

} // namespace

class AppModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startUpWithStoredKey();
    void startUpWithoutKey();
    void startUpWhileTheKeyringIsBusy_data();
    void startUpWhileTheKeyringIsBusy();
    void pastedKeyIsTrimmed();
    void blankPastedKeyChangesNothing();
    void pastedKeyFails_data();
    void pastedKeyFails();
    void cancelDuringKeyCheck();
    void cancelWhileTheKeyIsSaved();
    void browserSignIn_data();
    void browserSignIn();
    void cancelDuringBrowserWait();
    void rejectedDuringChatSignsOut();
    void rejectedDuringRefreshSignsOut();
    void signOutForgetsTheKey();
    void signOutKeepsNoticeAndSettings();
    void notificationsAreQueued();
    void staleRefreshAfterNewKey();
    void staleRefreshAcrossSignOut();
    void staleChatRejection();
    void dayNumbersAreReadOneAtATime();
    void secretsStayOutOfFilesSettingsAndLog();
    void keysPageOpens();
    void destroyedModelGetsNothing();
    void searchFollowsTheStore();

private:
    std::unique_ptr<AppModel> makeModel();
    // A model that starts with a stored key the service then rejects: signed
    // out, with the revocation notice showing.
    std::unique_ptr<AppModel> revokedModel();
    void writeFreshCache();
    int modelsCalls(const QString &key) const;
    int keyReads(const QString &key) const; // GET /key
    void settle();
    // Holds every call of `which` made with key, answering 401 once released.
    void holdRejection(const QString &key, bool (*which)(const fake::Request &));
    bool waitIdle(AppModel &model);

    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    AppNotifications m_notifications;
    FakeBrowser *m_browser = nullptr;
};

void AppModelTest::initTestCase()
{
    QVERIFY(m_fake.start());
    m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
    QVERIFY2(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"), "run through tests/auth/with-keyring");
}

void AppModelTest::init()
{
    m_fake.reset();
    m_fake.clearRequests();
    KeychainStore::remove();
    QVERIFY(!KeychainStore::load());
    QDir(AppPaths::dir()).removeRecursively();
    tolviSettings().clear();
    m_browser = new FakeBrowser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), m_browser, "open");
}

void AppModelTest::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    delete m_browser;
    m_browser = nullptr;
}

std::unique_ptr<AppModel> AppModelTest::makeModel()
{
    return std::make_unique<AppModel>(m_notifications, *m_client);
}

std::unique_ptr<AppModel> AppModelTest::revokedModel()
{
    KeychainStore::save(QStringLiteral("sk-or-v1-revoked"));
    m_fake.on("GET", "/api/v1/models", fake::replies::unauthorized());
    auto model = makeModel();
    testsupport::waitFor([&] { return model->notice().has_value(); });
    apptest::waitForStoredKey(std::nullopt);
    m_fake.reset();
    m_fake.clearRequests();
    return model;
}

void AppModelTest::writeFreshCache()
{
    RankerCache{ QDateTime::currentDateTimeUtc(), {}, { ModelRanker::routerId } }.write(
        RankerCache::defaultPath());
}

int AppModelTest::modelsCalls(const QString &key) const
{
    int count = 0;
    for (const fake::Request &request : m_fake.requests())
        count += isModelsCall(request) && request.bearer() == key;
    return count;
}

int AppModelTest::keyReads(const QString &key) const
{
    int count = 0;
    for (const fake::Request &request : m_fake.requests("/api/v1/key"))
        count += request.bearer() == key;
    return count;
}

void AppModelTest::settle()
{
    apptest::roundTrip(QUrl(m_fake.origin() + QStringLiteral("/settle")));
}

void AppModelTest::holdRejection(const QString &key, bool (*which)(const fake::Request &))
{
    m_fake.setResponder([key, which](const fake::Request &request) -> std::optional<fake::Reply> {
        if (!which(request) || request.bearer() != key)
            return std::nullopt;
        fake::Reply reply = fake::replies::unauthorized();
        reply.holdHead = true;
        return reply;
    });
}

bool AppModelTest::waitIdle(AppModel &model)
{
    return testsupport::waitFor([&] { return model.signInState().phase != SignInState::working; });
}

// ---- start-up ------------------------------------------------------------------

void AppModelTest::startUpWithStoredKey()
{
    QVERIFY(KeychainStore::save(keyA));
    m_fake.setCatalogue(fake::catalogue::sample());
    {
        auto model = makeModel();
        QVERIFY(model->isSignedIn());
        QCOMPARE(model->signInState(), SignInState::makeIdle());
        QVERIFY(model->ranker().isRefreshing()); // no cache yet: to the network at once
        QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
        QCOMPARE(modelsCalls(keyA), 1);
        QVERIFY(!model->ranker().freeModels().isEmpty());
        // The refresh read the day's numbers; its probes went out after.
        QVERIFY(testsupport::waitFor([&] { return !model->quota().isCheckingKey(); }));
        QCOMPARE(keyReads(keyA), 1);
        const QString quotaSeen = model->quota().summary().value_or(QString());
        QVERIFY2(quotaSeen.startsWith(QStringLiteral("About ")), qPrintable(quotaSeen));
    }
    // Started again within the cache's lifetime: the refresh is not forced,
    // so the cache serves and the catalogue is not asked. The day's numbers
    // are, and count the probes exactly.
    const qsizetype probes = m_fake.chatRequests().size();
    auto again = makeModel();
    QVERIFY(again->isSignedIn());
    QVERIFY(!again->ranker().isRefreshing());
    QVERIFY(!again->ranker().freeModels().isEmpty());
    QVERIFY(testsupport::waitFor([&] { return !again->quota().isCheckingKey(); }));
    settle();
    QCOMPARE(modelsCalls(keyA), 1);
    QCOMPARE(keyReads(keyA), 2);
    QCOMPARE(again->quota().summary(), QStringLiteral("%1 of 50 free requests left today").arg(50 - probes));
}

void AppModelTest::startUpWithoutKey()
{
    auto model = makeModel();
    QVERIFY(!model->isSignedIn());
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QCOMPARE(model->notice(), std::nullopt);
    QVERIFY(!model->ranker().isRefreshing());
    model->refreshModels(true);
    model->refreshModels(false);
    QVERIFY(!model->ranker().isRefreshing());
    settle();
    QCOMPARE(m_fake.requests().size(), 1); // only our own round trip
}

void AppModelTest::startUpWhileTheKeyringIsBusy_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("a key is found") << true << false;
    QTest::newRow("no key is found") << false << false;
    QTest::newRow("cancelled") << true << true;
}

// As when the read waits for the person at the keyring's unlock prompt.
void AppModelTest::startUpWhileTheKeyringIsBusy()
{
    QFETCH(bool, stored);
    QFETCH(bool, cancel);
    if (stored)
        QVERIFY(KeychainStore::save(keyA));
    Keyring keyring;
    KeyringGate gate(keyring);
    gate.close();
    auto model = std::make_unique<AppModel>(m_notifications, keyring, keyring.read(), *m_client);
    QVERIFY(!model->isSignedIn());
    QCOMPARE(model->signInState(), SignInState::makeWorking(SignInState::Wait::keyring));
    QSignalSpy signedIn(model.get(), &AppModel::isSignedInChanged);
    if (cancel) {
        model->cancelSignIn();
        QCOMPARE(model->signInState(), SignInState::makeIdle());
    }

    gate.open();
    apptest::catchUp(keyring);
    const bool adopted = stored && !cancel;
    QCOMPARE(model->isSignedIn(), adopted);
    QCOMPARE(signedIn.size(), adopted ? 1 : 0);
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    // With a key, the models are refreshed as at any start.
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    settle();
    QCOMPARE(modelsCalls(keyA), adopted ? 1 : 0);
}

// ---- a pasted key ------------------------------------------------------------------

void AppModelTest::pastedKeyIsTrimmed()
{
    auto model = revokedModel();
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    writeFreshCache();
    m_fake.setValidKeys({ keyB }); // an untrimmed key would be refused
    model->setShowKeyField(true);
    QSignalSpy signedIn(model.get(), &AppModel::isSignedInChanged);

    model->useOwnKey(QStringLiteral(" \t") + keyB + QStringLiteral("  \n"));
    QCOMPARE(model->signInState(), SignInState::makeWorking());
    QCOMPARE(model->notice(), std::nullopt);
    QVERIFY(waitIdle(*model));

    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QVERIFY(model->isSignedIn());
    QCOMPARE(signedIn.size(), 1);
    QVERIFY(!model->showKeyField());
    // The check, then the day's numbers read once signed in.
    QVERIFY(testsupport::waitFor([&] { return !model->quota().isCheckingKey(); }));
    const QList<fake::Request> checks = m_fake.requests("/api/v1/key");
    QCOMPARE(checks.size(), 2);
    for (const fake::Request &check : checks)
        QCOMPARE(check.header("authorization"), "Bearer " + keyB.toUtf8());
    QCOMPARE(KeychainStore::load(), keyB);
    QCOMPARE(apptest::secretToolLookup(), keyB);
    // Forced: the fresh cache does not spare the catalogue request.
    QVERIFY(testsupport::waitFor([&] { return modelsCalls(keyB) == 1; }));
}

void AppModelTest::blankPastedKeyChangesNothing()
{
    m_fake.setValidKeys({ keyA });
    auto model = makeModel();
    model->useOwnKey(keyB);
    QVERIFY(waitIdle(*model));
    const SignInState failed = model->signInState();
    QCOMPARE(failed.phase, SignInState::failed);
    m_fake.clearRequests();

    QSignalSpy stateChanges(model.get(), &AppModel::signInStateChanged);
    model->useOwnKey(QStringLiteral("  \n\t \r\n"));
    model->useOwnKey(QString());
    QCOMPARE(model->signInState(), failed);
    settle();
    QCOMPARE(stateChanges.size(), 0);
    QCOMPARE(m_fake.requests("/api/v1/key").size(), 0);
}

void AppModelTest::pastedKeyFails_data()
{
    QTest::addColumn<fake::Reply>("answer");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("ownMessage");
    QTest::newRow("rejected") << fake::replies::unauthorized() << int(ORError::Kind::unauthorized) << true;
    QTest::newRow("server") << fake::Reply::error(502, QStringLiteral("Bad gateway"))
                            << int(ORError::Kind::server) << false;
    // Told as a delay alone: a stated reset would make the words depend on
    // when the answer came.
    QTest::newRow("rate limited") << fake::Reply::error(
        429, QStringLiteral("Rate limit exceeded: free-models-per-min. "), QByteArray("30"))
                                  << int(ORError::Kind::rateLimited) << false;
}

void AppModelTest::pastedKeyFails()
{
    QFETCH(fake::Reply, answer);
    QFETCH(int, kind);
    QFETCH(bool, ownMessage);
    m_fake.on("GET", "/api/v1/key", answer);

    // What the client itself makes of this answer.
    std::optional<ORError> error;
    connect(m_client->validateKey(keyB), &KeyCheckCall::finished, this,
        [&](const KeyCheckOutcome &outcome) { error = outcome.error(); });
    QVERIFY(testsupport::waitFor([&] { return error.has_value(); }));
    QCOMPARE(int(error->kind()), kind);
    QVERIFY(!error->details().isEmpty());
    m_fake.clearRequests();

    auto model = revokedModel();
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    model->setShowKeyField(true);
    m_fake.on("GET", "/api/v1/key", answer);
    model->useOwnKey(keyB);
    QVERIFY(waitIdle(*model));

    const QString message = ownMessage ? AppModel::rejectedPastedKey : error->message();
    QCOMPARE(model->signInState(), SignInState::makeFailed(AppIssue{ message, error->details() }));
    QVERIFY(!model->isSignedIn());
    QVERIFY(model->showKeyField());
    QCOMPARE(model->notice(), std::nullopt); // cleared when the attempt began
    QCOMPARE(KeychainStore::load(), std::nullopt);
    settle();
    QCOMPARE(modelsCalls(keyB), 0);
}

void AppModelTest::cancelDuringKeyCheck()
{
    fake::Reply held = fake::Reply::json(200, QJsonObject{ { "data", QJsonObject{} } });
    held.holdHead = true;
    m_fake.on("GET", "/api/v1/key", held);
    auto model = makeModel();
    const int closes = m_fake.clientCloses();
    model->useOwnKey(keyB);
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));

    model->cancelSignIn();
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    // The cancel reaches the HTTP call: the connection is dropped.
    QVERIFY(testsupport::waitFor([&] { return m_fake.clientCloses() == closes + 1; }));
    m_fake.releaseAll();
    settle();
    QCoreApplication::processEvents();
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QVERIFY(!model->isSignedIn());
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

// The keyring takes its time (its unlock prompt is up, say): Cancel returns
// at once, and the key does not stay stored.
void AppModelTest::cancelWhileTheKeyIsSaved()
{
    m_fake.setValidKeys({ keyB });
    Keyring keyring;
    KeyringGate gate(keyring);
    auto model = std::make_unique<AppModel>(m_notifications, keyring, keyring.read(), *m_client);
    QVERIFY(waitIdle(*model));
    gate.close();
    model->useOwnKey(keyB);
    QVERIFY(testsupport::waitFor([&] { return gate.isHolding(); }));
    QCOMPARE(model->signInState(), SignInState::makeWorking(SignInState::Wait::keyring));

    model->cancelSignIn();
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    gate.open();
    apptest::catchUp(keyring);
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QVERIFY(!model->isSignedIn());
    QCOMPARE(KeychainStore::load(), std::nullopt);
    settle();
    QCOMPARE(modelsCalls(keyB), 0);
}

// ---- the browser sign-in -------------------------------------------------------------

void AppModelTest::browserSignIn_data()
{
    QTest::addColumn<QString>("outcome");
    QTest::newRow("approved") << "approved";
    QTest::newRow("denied") << "denied";
    QTest::newRow("never answered") << "timeout";
}

void AppModelTest::browserSignIn()
{
    QFETCH(QString, outcome);
    const QString issued = QStringLiteral("sk-or-v1-from-the-browser");
    auto model = revokedModel();
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    writeFreshCache();
    m_fake.setExchange(QStringLiteral("code-42"), issued);
    if (outcome == "denied")
        m_fake.setAuthError(QStringLiteral("access_denied"), QStringLiteral("The user said no"));
    if (outcome == "timeout") {
        m_browser->act = FakeBrowser::Act::record;
        model->setSignInTimeoutMs(100);
    }
    model->setShowKeyField(true);

    model->startOAuth();
    QCOMPARE(model->signInState(), SignInState::makeWorking());
    QCOMPARE(model->notice(), std::nullopt);
    QVERIFY(waitIdle(*model));
    QCOMPARE(m_browser->opened.size(), 1);
    QCOMPARE(m_browser->opened.first().path(), QStringLiteral("/auth"));

    if (outcome == "approved") {
        QCOMPARE(model->signInState(), SignInState::makeIdle());
        QVERIFY(model->isSignedIn());
        QVERIFY(!model->showKeyField());
        QCOMPARE(KeychainStore::load(), issued);
        QVERIFY(testsupport::waitFor([&] { return modelsCalls(issued) == 1; })); // forced past the cache
        QVERIFY(testsupport::waitFor([&] { return !model->quota().isCheckingKey(); }));
        QCOMPARE(keyReads(issued), 1);
        QCOMPARE(model->quota().summary(), QStringLiteral("50 of 50 free requests left today"));
        return;
    }
    const ORError expected = outcome == "denied" ? ORError::signInDenied(QStringLiteral("The user said no"))
                                                 : ORError::signInTimeout();
    QCOMPARE(model->signInState(), SignInState::makeFailed(expected.issue()));
    QVERIFY(!model->isSignedIn());
    QVERIFY(model->showKeyField());
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QCOMPARE(m_fake.requests("/api/v1/auth/keys").size(), 0);
}

void AppModelTest::cancelDuringBrowserWait()
{
    m_fake.setExchange(QStringLiteral("code-7"), keyB);
    m_browser->act = FakeBrowser::Act::record;
    auto model = makeModel();
    QSignalSpy stateChanges(model.get(), &AppModel::signInStateChanged);
    model->startOAuth();
    QCOMPARE(m_browser->opened.size(), 1);

    model->cancelSignIn();
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QCOMPARE(stateChanges.size(), 2); // working, idle

    // The user approves in the browser after all: the listener is gone, so
    // the redirect finds nobody, and nothing is exchanged or stored.
    m_browser->load(m_browser->opened.first());
    QVERIFY(testsupport::waitFor([&] { return m_browser->pageReply && m_browser->pageReply->isFinished(); }));
    QCOMPARE(m_browser->pageReply->error(), QNetworkReply::ConnectionRefusedError);
    settle();
    QCoreApplication::processEvents();
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QCOMPARE(stateChanges.size(), 2);
    QVERIFY(!model->isSignedIn());
    QCOMPARE(m_fake.requests("/api/v1/auth/keys").size(), 0);
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

// ---- revocation ------------------------------------------------------------------

void AppModelTest::rejectedDuringChatSignsOut()
{
    QVERIFY(KeychainStore::save(keyA));
    auto model = makeModel(); // an empty catalogue: the refresh probes nothing
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    QVERIFY(model->isSignedIn());
    m_fake.onAnyChat(fake::replies::unauthorized());

    ChatViewModel &chat = model->chat();
    chat.setDraft(QStringLiteral("Hello?"));
    chat.send();
    QVERIFY(chat.isStreaming());
    QVERIFY(testsupport::waitFor([&] { return !model->isSignedIn(); }));

    QCOMPARE(model->notice(), AppModel::revokedNotice);
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QVERIFY(apptest::waitForStoredKey(std::nullopt)); // the removal is queued
    QVERIFY(!chat.isStreaming());
    QVERIFY(chat.chat().messages.isEmpty()); // reset to a fresh chat
    QCOMPARE(chat.issue(), std::nullopt);
}

void AppModelTest::rejectedDuringRefreshSignsOut()
{
    auto model = revokedModel();
    QVERIFY(!model->isSignedIn());
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QCOMPARE(apptest::secretToolLookup(), QString());
}

void AppModelTest::signOutForgetsTheKey()
{
    QVERIFY(KeychainStore::save(keyA));
    m_fake.setCatalogue(fake::catalogue::sample());
    auto model = makeModel();
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    QVERIFY(!model->ranker().freeModels().isEmpty());
    QVERIFY(QFile::exists(RankerCache::defaultPath()));
    model->ranker().cool(model->ranker().freeModels().first().id, std::nullopt);
    ChatViewModel &chat = model->chat();
    chat.setDraft(QStringLiteral("Hi"));
    chat.send();
    QVERIFY(testsupport::waitFor([&] { return !chat.isStreaming(); }));
    QVERIFY(chat.currentModelName().has_value());
    model->setShowKeyField(true);
    model->setShowSettings(true);
    const QString quotaFile = model->quota().path();
    QCOMPARE(QFileInfo(quotaFile).dir(), QFileInfo(RankerCache::defaultPath()).dir());
    QVERIFY(QFile::exists(quotaFile));

    model->signOut();

    // The next account starts its own count.
    QVERIFY(!QFile::exists(quotaFile));
    QCOMPARE(model->quota().summary(), std::nullopt);

    QVERIFY(!model->isSignedIn());
    QCOMPARE(model->signInState(), SignInState::makeIdle());
    QVERIFY(!model->showKeyField());
    QVERIFY(model->showSettings());
    QCOMPARE(model->notice(), std::nullopt);
    QVERIFY(apptest::waitForStoredKey(std::nullopt)); // the removal is queued
    QCOMPARE(apptest::secretToolLookup(), QString());
    QVERIFY(chat.chat().messages.isEmpty());
    QCOMPARE(chat.currentModelName(), std::nullopt);
    QVERIFY(model->ranker().freeModels().isEmpty());
    QCOMPARE(model->ranker().ladderIDs(), QStringList{ ModelRanker::routerId });
    QVERIFY(model->ranker().cooling().isEmpty());
    QVERIFY(!QFile::exists(RankerCache::defaultPath()));

    // The key is gone from memory too: nothing can be sent with it.
    m_fake.clearRequests();
    chat.setDraft(QStringLiteral("Still there?"));
    chat.send();
    QVERIFY(!chat.isStreaming());
    model->refreshModels(true);
    settle();
    QCOMPARE(m_fake.chatRequests().size(), 0);
    QCOMPARE(modelsCalls(keyA), 0);
}

void AppModelTest::signOutKeepsNoticeAndSettings()
{
    auto model = revokedModel();
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    model->setShowSettings(true);
    model->signOut();
    QCOMPARE(model->notice(), AppModel::revokedNotice);
    QVERIFY(model->showSettings());
}

// ---- notifications -----------------------------------------------------------------

void AppModelTest::notificationsAreQueued()
{
    auto model = makeModel();
    ChatViewModel &chat = model->chat();
    const int focus = chat.focusToken();

    m_notifications.postFocusInput();
    m_notifications.postFocusInput();
    QCOMPARE(chat.focusToken(), focus); // after the posting action returns
    QVERIFY(testsupport::waitFor([&] { return chat.focusToken() == focus + 2; }));

    chat.setDraft(QStringLiteral("half a thought"));
    const QUuid before = chat.chat().id;
    m_notifications.postNewChat();
    QCOMPARE(chat.draft(), QStringLiteral("half a thought"));
    QVERIFY(testsupport::waitFor([&] { return chat.chat().id != before; }));
    QCOMPARE(chat.draft(), QString());
    QCOMPARE(chat.focusToken(), focus + 3);

    // Posted just before the model goes away: nobody is left to act on it.
    m_notifications.postNewChat();
    m_notifications.postFocusInput();
    model.reset();
    QCoreApplication::processEvents();
}

// ---- a rejected key that is no longer in use ---------------------------------------

void AppModelTest::staleRefreshAfterNewKey()
{
    QVERIFY(KeychainStore::save(keyA));
    holdRejection(keyA, isModelsCall);
    auto model = makeModel();
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));

    model->useOwnKey(keyB); // adopted while the refresh with A still runs
    QVERIFY(waitIdle(*model));
    QCOMPARE(KeychainStore::load(), keyB);

    QVERIFY(m_fake.release()); // now A is rejected
    // The refresh that B's sign-in asked for runs after all.
    QVERIFY(testsupport::waitFor([&] { return modelsCalls(keyB) == 1 && !model->ranker().isRefreshing(); }));
    QVERIFY(model->isSignedIn());
    QCOMPARE(model->notice(), std::nullopt);
    QCOMPARE(KeychainStore::load(), keyB);
}

void AppModelTest::staleRefreshAcrossSignOut()
{
    QVERIFY(KeychainStore::save(keyA));
    holdRejection(keyA, isModelsCall);
    auto model = makeModel();
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));

    model->signOut();
    model->useOwnKey(keyB);
    QVERIFY(waitIdle(*model));
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    m_fake.releaseAll();
    settle();
    QCoreApplication::processEvents();

    QVERIFY(model->isSignedIn());
    QCOMPARE(model->notice(), std::nullopt);
    QCOMPARE(KeychainStore::load(), keyB);
}

void AppModelTest::staleChatRejection()
{
    QVERIFY(KeychainStore::save(keyA));
    auto model = makeModel();
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    holdRejection(keyA, fake::isChatRequest);
    ChatViewModel &chat = model->chat();
    chat.setDraft(QStringLiteral("Hello?"));
    chat.send();
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));

    model->useOwnKey(keyB); // adopted while the reply asked with A is on its way
    QVERIFY(waitIdle(*model));
    QVERIFY(m_fake.release());
    QVERIFY(testsupport::waitFor([&] { return !chat.isStreaming(); }));

    QVERIFY(model->isSignedIn());
    QCOMPARE(model->notice(), std::nullopt);
    QCOMPARE(KeychainStore::load(), keyB);
    // The next message goes out with B.
    m_fake.clearRequests();
    chat.setDraft(QStringLiteral("Again"));
    chat.send();
    QVERIFY(testsupport::waitFor([&] { return !chat.isStreaming(); }));
    QCOMPARE(m_fake.chatRequests().size(), 1);
    QCOMPARE(m_fake.chatRequests().first().bearer(), keyB);
}

// ---- the day's free requests --------------------------------------------------------

// The service's count of the day is read at start-up, at the end of every
// reply and after every 429, one read at a time: whatever asks meanwhile
// makes exactly one more read once the running one is answered.
void AppModelTest::dayNumbersAreReadOneAtATime()
{
    QVERIFY(KeychainStore::save(keyA));
    writeFreshCache(); // the cache serves: no catalogue, no probes
    m_fake.on("GET", "/api/v1/key", heldKeyAnswer(47));
    auto model = makeModel();
    FreeQuota &quota = model->quota();
    ChatViewModel &chat = model->chat();
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));

    // Two replies end and the models are refreshed while the start-up read
    // waits.
    for (const QString &text : { QStringLiteral("Hi"), QStringLiteral("Again") }) {
        chat.setDraft(text);
        chat.send();
        QVERIFY(testsupport::waitFor([&] { return !chat.isStreaming(); }));
    }
    model->refreshModels(false);
    settle();
    QCOMPARE(keyReads(keyA), 1);

    m_fake.on("GET", "/api/v1/key", heldKeyAnswer(40));
    QVERIFY(m_fake.release());
    // Its numbers less what went out after it was asked; then one more read.
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));
    QCOMPARE(quota.summary(), QStringLiteral("About 45 of 50 free requests left today"));
    QVERIFY(m_fake.release());
    QVERIFY(testsupport::waitFor([&] { return !quota.isCheckingKey(); }));
    QCOMPARE(quota.summary(), QStringLiteral("40 of 50 free requests left today"));
    settle();
    QCOMPARE(keyReads(keyA), 2);

    // A provider's 429 asks by itself, before its reply ends (the router,
    // the only model, is left); the end of the reply then waits for that
    // read.
    m_fake.enqueueChat(ModelRanker::routerId, fake::replies::upstreamRateLimited(ModelRanker::routerId, 30));
    chat.setDraft(QStringLiteral("Once more"));
    chat.send();
    QVERIFY(testsupport::waitFor([&] { return !chat.isStreaming(); }));
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));
    QVERIFY(m_fake.release());
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 1; }));
    QVERIFY(m_fake.release());
    QVERIFY(testsupport::waitFor([&] { return !quota.isCheckingKey(); }));
    settle();
    QCOMPARE(keyReads(keyA), 4);
}

// ---- where the key may not go ----------------------------------------------------------

namespace {

// Every message of every category, as the desktop's journal would get it.
struct CapturedLog {
    CapturedLog()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("tolvi.*=true"));
        previous = qInstallMessageHandler(&CapturedLog::record);
    }
    ~CapturedLog()
    {
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
    }
    static QString text()
    {
        const QMutexLocker lock(&mutex);
        return lines.join('\n');
    }
    static void record(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        const QMutexLocker lock(&mutex); // the store writes from its own thread
        lines.append(QString::fromLatin1(context.category) + QStringLiteral(": ") + message);
    }
    static inline QMutex mutex;
    static inline QStringList lines;
    QtMessageHandler previous = nullptr;
};

} // namespace

// A sign-in through the browser, a chat with a fallback, a new pasted key and
// a message with a picture: no secret and nothing the person wrote reaches a
// file of Tolvi's, the settings, the environment, or the log with every
// category at debug.
void AppModelTest::secretsStayOutOfFilesSettingsAndLog()
{
    const QString browserKey = QStringLiteral("sk-or-v1-browser-0123456789abcdef");
    const QString pastedKey = QStringLiteral("sk-or-v1-pasted-fedcba9876543210");
    const QString code = QStringLiteral("code-unguessable-9");
    const QString prompt = QStringLiteral("Answer as a lighthouse keeper would.");
    const QString firstText = QStringLiteral("Where does the marmalade tunnel lead?");
    const QString secondText = QStringLiteral("Describe this quartz giraffe picture.");
    const QString raw = QStringLiteral("upstream said: private-provider-detail-417");
    CapturedLog log;
    CapturedLog::lines.clear();
    tolviSettings().setValue(QStringLiteral("systemPrompt"), prompt);
    m_fake.setCatalogue(fake::catalogue::sample());
    m_fake.setExchange(code, browserKey);
    // The first model asked fails with the provider's own words.
    bool failed = false;
    m_fake.setResponder([&](const fake::Request &request) -> std::optional<fake::Reply> {
        if (!fake::isChatRequest(request) || failed || request.json().value("max_tokens").toInt() == 1)
            return std::nullopt;
        failed = true;
        return fake::Reply::error(503, QStringLiteral("Provider returned error"), std::nullopt,
            QJsonObject{ { "raw", raw }, { "provider_name", "Example" } });
    });
    auto model = makeModel();

    model->startOAuth();
    QVERIFY(waitIdle(*model));
    QVERIFY(model->isSignedIn());
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    model->chat().setDraft(firstText);
    model->chat().send();
    QVERIFY(testsupport::waitFor([&] { return !model->chat().isStreaming(); }));
    QVERIFY(failed);

    model->useOwnKey(pastedKey);
    QVERIFY(waitIdle(*model));
    QCOMPARE(KeychainStore::load(), pastedKey);
    QVERIFY(testsupport::waitFor([&] { return !model->ranker().isRefreshing(); }));
    QImage picture(QSize(60, 40), QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    model->chat().attach(picture);
    QVERIFY(testsupport::waitFor([&] { return model->chat().attachments().size() == 1; }));
    model->chat().setDraft(secondText);
    model->chat().send();
    QVERIFY(testsupport::waitFor([&] { return !model->chat().isStreaming(); }));
    model->store().drain();
    QVERIFY(QFile::exists(RankerCache::defaultPath()));
    QVERIFY(!model->store().summaries().isEmpty());

    QSettings settings = tolviSettings();
    settings.sync();
    for (const QString &key : { browserKey, pastedKey }) {
        QCOMPARE(apptest::filesContaining(AppPaths::dir(), key.toUtf8()), QStringList());
        QCOMPARE(
            apptest::filesContaining(QFileInfo(settings.fileName()).path(), key.toUtf8()), QStringList());
        for (const QString &name : settings.allKeys())
            QVERIFY(!settings.value(name).toString().contains(key));
        QVERIFY(!QProcessEnvironment::systemEnvironment().toStringList().join('\n').contains(key));
    }

    // What the sign-in and the second message sent, as the service saw it.
    const QList<fake::Request> exchanges = m_fake.requests("/api/v1/auth/keys");
    QCOMPARE(exchanges.size(), 1);
    const QString verifier = exchanges.first().json().value("code_verifier").toString();
    const QString state = QUrlQuery(m_browser->opened.first()).queryItemValue(QStringLiteral("state"));
    const QString imageUrl = QString::fromUtf8(m_fake.chatRequests().last().body);
    const qsizetype imageAt = imageUrl.indexOf(QStringLiteral("base64,"));
    QVERIFY(imageAt > 0);
    const QString imageData = imageUrl.mid(imageAt + 7, 40);
    const QString title = model->store().summaries().last().title;

    const QString text = log.text();
    QVERIFY(text.contains(QStringLiteral("tolvi.conversation")));
    QVERIFY(text.contains(QStringLiteral("tolvi.auth")));
    for (const QString &secret : { browserKey, pastedKey, code, verifier, state, prompt, firstText,
             secondText, title, imageData, raw }) {
        QVERIFY(secret.size() >= 8);
        QVERIFY2(!text.contains(secret), qPrintable(QStringLiteral("the log holds: ") + secret));
    }
}

void AppModelTest::keysPageOpens()
{
    m_browser->act = FakeBrowser::Act::record;
    auto model = makeModel();
    model->openKeysPage();
    QCOMPARE(m_browser->opened, QList<QUrl>{ QUrl(m_fake.origin() + QStringLiteral("/keys")) });
}

void AppModelTest::destroyedModelGetsNothing()
{
    // A refresh, a key check and a browser sign-in, all still waiting when
    // the model goes away.
    QVERIFY(KeychainStore::save(keyA));
    fake::Reply held = fake::Reply::json(200, QJsonObject{ { "data", QJsonObject{} } });
    held.holdHead = true;
    m_fake.on("GET", "/api/v1/key", held);
    holdRejection(keyA, isModelsCall);
    m_browser->act = FakeBrowser::Act::record;
    auto model = makeModel();
    model->useOwnKey(keyB);
    // The catalogue, the refresh's read of the account's tier, the key check.
    QVERIFY(testsupport::waitFor([&] { return m_fake.heldSteps() == 3; }));
    auto browserModel = makeModel();
    browserModel->startOAuth();
    QCOMPARE(m_browser->opened.size(), 1);

    model.reset();
    browserModel.reset();
    m_fake.releaseAll();
    m_browser->load(m_browser->opened.first());
    QVERIFY(testsupport::waitFor([&] { return m_browser->pageReply && m_browser->pageReply->isFinished(); }));
    QCOMPARE(m_browser->pageReply->error(), QNetworkReply::ConnectionRefusedError);
    settle();
    QCoreApplication::processEvents();
    QCOMPARE(KeychainStore::load(), keyA);
}

// The index is made late, from files and from what has not reached them
// yet, and then follows every save and removal.
void AppModelTest::searchFollowsTheStore()
{
    auto model = makeModel();
    const auto chatWith = [](const QString &text) {
        Chat chat;
        ChatMessage message;
        message.role = QStringLiteral("user");
        message.text = text;
        chat.messages << message;
        return chat;
    };
    const Chat written = chatWith(QStringLiteral("Trains to Zürich"));
    model->store().save(written);
    model->store().drain();
    const Chat queued = chatWith(QStringLiteral("Ferries from Genoa"));
    model->store().save(queued); // possibly not yet in its file
    ChatSearchIndex &search = model->search();
    QSignalSpy found(&search, &ChatSearchIndex::found);
    const auto find = [&](const QString &query) {
        found.clear();
        search.search(query);
        return (found.isEmpty() && !found.wait(60000)) ? QList<QUuid>{}
                                                       : found.last().at(1).value<QList<QUuid>>();
    };
    QCOMPARE(find(QStringLiteral("zur")), QList<QUuid>{ written.id });
    QCOMPARE(find(QStringLiteral("genoa")), QList<QUuid>{ queued.id });

    const Chat later = chatWith(QStringLiteral("More trains"));
    model->store().save(later);
    QCOMPARE(find(QStringLiteral("trains")).size(), 2);
    model->store().remove(written.id);
    QCOMPARE(find(QStringLiteral("trains")), QList<QUuid>{ later.id });
}

QTEST_GUILESS_MAIN(AppModelTest)
#include "test_app_model.moc"
